#include "platform/SocketError.h"

#include <cerrno>
#include <cstddef>

namespace platform {
namespace {

struct ErrnoToWsa {
  int err;
  int wsa;
};

// The one table between the two numberings. Rows with the same Linux value (EAGAIN and
// EWOULDBLOCK, EOPNOTSUPP and ENOTSUP) are harmless: the first row wins.
constexpr ErrnoToWsa kErrnoToWsa[] = {
    {EINTR, 10004},            // WSAEINTR
    {EBADF, 10009},            // WSAEBADF
    {EACCES, 10013},           // WSAEACCES
    {EPERM, 10013},            // a firewall refusing a send or connect: WSAEACCES
    {EFAULT, 10014},           // WSAEFAULT
    {EINVAL, 10022},           // WSAEINVAL
    {EMFILE, 10024},           // WSAEMFILE
    {ENFILE, 10024},           // the system's table is full: still too many open sockets
    {EAGAIN, 10035},           // WSAEWOULDBLOCK
    {EWOULDBLOCK, 10035},      // WSAEWOULDBLOCK
    {EINPROGRESS, 10036},      // WSAEINPROGRESS
    {EALREADY, 10037},         // WSAEALREADY
    {ENOTSOCK, 10038},         // WSAENOTSOCK
    {EDESTADDRREQ, 10039},     // WSAEDESTADDRREQ
    {EMSGSIZE, 10040},         // WSAEMSGSIZE
    {EPROTOTYPE, 10041},       // WSAEPROTOTYPE
    {ENOPROTOOPT, 10042},      // WSAENOPROTOOPT
    {EPROTONOSUPPORT, 10043},  // WSAEPROTONOSUPPORT
    {ESOCKTNOSUPPORT, 10044},  // WSAESOCKTNOSUPPORT
    {EOPNOTSUPP, 10045},       // WSAEOPNOTSUPP
    {ENOTSUP, 10045},          // WSAEOPNOTSUPP
    {EAFNOSUPPORT, 10047},     // WSAEAFNOSUPPORT
    {EADDRINUSE, 10048},       // WSAEADDRINUSE
    {EADDRNOTAVAIL, 10049},    // WSAEADDRNOTAVAIL
    {ENETDOWN, 10050},         // WSAENETDOWN
    {ENETUNREACH, 10051},      // WSAENETUNREACH
    {ENETRESET, 10052},        // WSAENETRESET
    {ECONNABORTED, 10053},     // WSAECONNABORTED
    {ECONNRESET, 10054},       // WSAECONNRESET
    {ENOBUFS, 10055},          // WSAENOBUFS
    {ENOMEM, 10055},           // the kernel's buffers ran out: WSAENOBUFS
    {EISCONN, 10056},          // WSAEISCONN
    {ENOTCONN, 10057},         // WSAENOTCONN
    {ESHUTDOWN, 10058},        // WSAESHUTDOWN
    // A send on a socket that can no longer send (shut down for sending, or the connection
    // is gone). Windows says WSAESHUTDOWN for the first; the callers end the session on
    // either, and the log then names what the socket can no longer do.
    {EPIPE, 10058},            // WSAESHUTDOWN
    {ETOOMANYREFS, 10059},     // WSAETOOMANYREFS
    {ETIMEDOUT, 10060},        // WSAETIMEDOUT
    {ECONNREFUSED, 10061},     // WSAECONNREFUSED
    {ELOOP, 10062},            // WSAELOOP
    {ENAMETOOLONG, 10063},     // WSAENAMETOOLONG
    {EHOSTDOWN, 10064},        // WSAEHOSTDOWN
    {EHOSTUNREACH, 10065},     // WSAEHOSTUNREACH
    {ENOTEMPTY, 10066},        // WSAENOTEMPTY
    {EUSERS, 10068},           // WSAEUSERS
    {EDQUOT, 10069},           // WSAEDQUOT
    {ESTALE, 10070},           // WSAESTALE
    {EREMOTE, 10071},          // WSAEREMOTE
    {ECANCELED, 10103},        // WSAECANCELLED
};

}  // namespace

int SocketErrorFromErrno(int err) {
  for (const ErrnoToWsa& row : kErrnoToWsa) {
    if (row.err == err) return row.wsa;
  }
  return -err;
}

int LastSocketError() { return SocketErrorFromErrno(errno); }

}  // namespace platform
