#include "support/SocketErrorName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "platform/SocketError.h"

namespace {

TEST(SocketErrorName, NotedRows) {
  EXPECT_STREQ(SocketErrorName(10035), "WSAEWOULDBLOCK");
  EXPECT_STREQ(SocketErrorName(10054), "WSAECONNRESET");
  EXPECT_STREQ(SocketErrorName(10038), "WSAENOTSOCK");
  EXPECT_STREQ(SocketErrorName(11001), "WSAHOST_NOT_FOUND");
  EXPECT_STREQ(SocketErrorName(10111), "WSA_E_CANCELLED");
  EXPECT_STREQ(SocketErrorName(10103), "WSAECANCELLED");
  EXPECT_STREQ(SocketErrorName(10110), "WSA_E_NO_MORE");
  EXPECT_STREQ(SocketErrorName(10102), "WSAENOMORE");
  EXPECT_STREQ(SocketErrorName(10067), "WSAEPROCLIM");
  EXPECT_STREQ(SocketErrorName(10093), "WSANOTINITIALISED");
  EXPECT_STREQ(SocketErrorName(10112), "WSAEREFUSED");
  EXPECT_STREQ(SocketErrorName(11004), "WSANO_DATA");
}

// The numbers as the Windows Sockets documentation gives them, to catch a slip in any row.
TEST(SocketErrorName, EveryNameCarriesItsStandardNumber) {
  const struct {
    int number;
    const char* name;
  } rows[] = {
      {10004, "WSAEINTR"}, {10009, "WSAEBADF"}, {10013, "WSAEACCES"}, {10014, "WSAEFAULT"},
      {10022, "WSAEINVAL"}, {10024, "WSAEMFILE"}, {10035, "WSAEWOULDBLOCK"},
      {10036, "WSAEINPROGRESS"}, {10037, "WSAEALREADY"}, {10038, "WSAENOTSOCK"},
      {10039, "WSAEDESTADDRREQ"}, {10040, "WSAEMSGSIZE"}, {10041, "WSAEPROTOTYPE"},
      {10042, "WSAENOPROTOOPT"}, {10043, "WSAEPROTONOSUPPORT"}, {10044, "WSAESOCKTNOSUPPORT"},
      {10045, "WSAEOPNOTSUPP"}, {10047, "WSAEAFNOSUPPORT"}, {10048, "WSAEADDRINUSE"},
      {10049, "WSAEADDRNOTAVAIL"}, {10050, "WSAENETDOWN"}, {10051, "WSAENETUNREACH"},
      {10052, "WSAENETRESET"}, {10053, "WSAECONNABORTED"}, {10054, "WSAECONNRESET"},
      {10055, "WSAENOBUFS"}, {10056, "WSAEISCONN"}, {10057, "WSAENOTCONN"},
      {10058, "WSAESHUTDOWN"}, {10059, "WSAETOOMANYREFS"}, {10060, "WSAETIMEDOUT"},
      {10061, "WSAECONNREFUSED"}, {10062, "WSAELOOP"}, {10063, "WSAENAMETOOLONG"},
      {10064, "WSAEHOSTDOWN"}, {10065, "WSAEHOSTUNREACH"}, {10066, "WSAENOTEMPTY"},
      {10067, "WSAEPROCLIM"}, {10068, "WSAEUSERS"}, {10069, "WSAEDQUOT"}, {10070, "WSAESTALE"},
      {10071, "WSAEREMOTE"}, {10091, "WSASYSNOTREADY"}, {10092, "WSAVERNOTSUPPORTED"},
      {10093, "WSANOTINITIALISED"}, {10101, "WSAEDISCON"}, {10102, "WSAENOMORE"},
      {10103, "WSAECANCELLED"}, {10104, "WSAEINVALIDPROCTABLE"}, {10105, "WSAEINVALIDPROVIDER"},
      {10106, "WSAEPROVIDERFAILEDINIT"}, {10107, "WSASYSCALLFAILURE"},
      {10108, "WSASERVICE_NOT_FOUND"}, {10109, "WSATYPE_NOT_FOUND"}, {10110, "WSA_E_NO_MORE"},
      {10111, "WSA_E_CANCELLED"}, {10112, "WSAEREFUSED"}, {11001, "WSAHOST_NOT_FOUND"},
      {11002, "WSATRY_AGAIN"}, {11003, "WSANO_RECOVERY"}, {11004, "WSANO_DATA"},
  };
  static_assert(sizeof rows / sizeof rows[0] == 61);
  for (const auto& row : rows) EXPECT_STREQ(SocketErrorName(row.number), row.name) << row.number;
}

TEST(SocketErrorName, TableHoldsSixtyOneDistinctNumbersAndNames) {
  std::set<std::string> names;
  int numbers = 0;
  for (int error = -1000; error <= 20000; ++error) {
    if (const char* name = SocketErrorName(error)) {
      ++numbers;
      EXPECT_EQ(std::strncmp(name, "WSA", 3), 0) << error;
      names.insert(name);
    }
  }
  EXPECT_EQ(numbers, 61);
  EXPECT_EQ(names.size(), 61u);
  // Numbers next to real ones, and the one name the table leaves out, have none.
  EXPECT_EQ(SocketErrorName(0), nullptr);
  EXPECT_EQ(SocketErrorName(10000), nullptr);
  EXPECT_EQ(SocketErrorName(10046), nullptr);  // WSAEPFNOSUPPORT
  EXPECT_EQ(SocketErrorName(-10035), nullptr);
}

// Each Linux error lands on the Windows Sockets name that means the same; checked by name so
// that a wrong number in either table shows.
TEST(WsaErrorFromErrno, LinuxErrorsGetTheirWindowsNames) {
  const struct {
    int err;
    const char* name;
  } cases[] = {
      {EACCES, "WSAEACCES"},          {EADDRINUSE, "WSAEADDRINUSE"},
      {EADDRNOTAVAIL, "WSAEADDRNOTAVAIL"}, {EAFNOSUPPORT, "WSAEAFNOSUPPORT"},
      {EALREADY, "WSAEALREADY"},      {EBADF, "WSAEBADF"},
      {ECANCELED, "WSAECANCELLED"},   {ECONNABORTED, "WSAECONNABORTED"},
      {ECONNREFUSED, "WSAECONNREFUSED"}, {ECONNRESET, "WSAECONNRESET"},
      {EDESTADDRREQ, "WSAEDESTADDRREQ"}, {EDQUOT, "WSAEDQUOT"},
      {EFAULT, "WSAEFAULT"},          {EHOSTDOWN, "WSAEHOSTDOWN"},
      {EHOSTUNREACH, "WSAEHOSTUNREACH"}, {EINPROGRESS, "WSAEINPROGRESS"},
      {EINTR, "WSAEINTR"},            {EINVAL, "WSAEINVAL"},
      {EISCONN, "WSAEISCONN"},        {ELOOP, "WSAELOOP"},
      {EMFILE, "WSAEMFILE"},          {EMSGSIZE, "WSAEMSGSIZE"},
      {ENAMETOOLONG, "WSAENAMETOOLONG"}, {ENETDOWN, "WSAENETDOWN"},
      {ENETRESET, "WSAENETRESET"},    {ENETUNREACH, "WSAENETUNREACH"},
      {ENOBUFS, "WSAENOBUFS"},        {ENOPROTOOPT, "WSAENOPROTOOPT"},
      {ENOTCONN, "WSAENOTCONN"},      {ENOTEMPTY, "WSAENOTEMPTY"},
      {ENOTSOCK, "WSAENOTSOCK"},      {EOPNOTSUPP, "WSAEOPNOTSUPP"},
      {EPROTONOSUPPORT, "WSAEPROTONOSUPPORT"}, {EPROTOTYPE, "WSAEPROTOTYPE"},
      {EREMOTE, "WSAEREMOTE"},        {ESHUTDOWN, "WSAESHUTDOWN"},
      {ESOCKTNOSUPPORT, "WSAESOCKTNOSUPPORT"}, {ESTALE, "WSAESTALE"},
      {ETIMEDOUT, "WSAETIMEDOUT"},    {ETOOMANYREFS, "WSAETOOMANYREFS"},
      {EUSERS, "WSAEUSERS"},          {EAGAIN, "WSAEWOULDBLOCK"},
      {EWOULDBLOCK, "WSAEWOULDBLOCK"}, {EPIPE, "WSAESHUTDOWN"},
      {ENFILE, "WSAEMFILE"},          {ENOMEM, "WSAENOBUFS"},
      {EPERM, "WSAEACCES"},
  };
  for (const auto& c : cases) {
    const int wsa = platform::WsaErrorFromErrno(c.err);
    EXPECT_STREQ(SocketErrorName(wsa), c.name) << std::strerror(c.err) << " gave " << wsa;
  }
  EXPECT_EQ(platform::WsaErrorFromErrno(EAGAIN), platform::kWsaEWouldBlock);
  EXPECT_EQ(platform::WsaErrorFromErrno(EINPROGRESS), platform::kWsaEInProgress);
  EXPECT_EQ(platform::WsaErrorFromErrno(ENOTSOCK), platform::kWsaENotSock);
  EXPECT_EQ(platform::WsaErrorFromErrno(ECONNABORTED), platform::kWsaEConnAborted);
  EXPECT_EQ(platform::WsaErrorFromErrno(ECONNRESET), platform::kWsaEConnReset);
  EXPECT_EQ(platform::WsaErrorFromErrno(ETIMEDOUT), platform::kWsaETimedOut);
  EXPECT_EQ(platform::WsaErrorFromErrno(ECONNREFUSED), platform::kWsaEConnRefused);
}

TEST(WsaErrorFromErrno, EveryMappedErrnoHasAName) {
  int mapped = 0;
  for (int err = 1; err < 4096; ++err) {
    const int wsa = platform::WsaErrorFromErrno(err);
    if (wsa == -err) continue;
    ++mapped;
    EXPECT_NE(SocketErrorName(wsa), nullptr) << "errno " << err << " gave " << wsa;
  }
  EXPECT_GE(mapped, 45);
}

TEST(WsaErrorFromErrno, UnmappedErrnoStaysReadable) {
  EXPECT_EQ(platform::WsaErrorFromErrno(EPROTO), -EPROTO);
  EXPECT_EQ(platform::WsaErrorFromErrno(ENOENT), -ENOENT);
  EXPECT_EQ(SocketErrorName(-EPROTO), nullptr);
  EXPECT_EQ(SocketErrorText(-EPROTO),
            "errno " + std::to_string(EPROTO) + " (" + std::strerror(EPROTO) + ")");

  errno = ECONNRESET;
  EXPECT_EQ(platform::LastSocketError(), 10054);
  errno = EPROTO;
  EXPECT_EQ(platform::LastSocketError(), -EPROTO);
}

TEST(SocketErrorText, NamesFirstThenNumbers) {
  EXPECT_EQ(SocketErrorText(10038), "WSAENOTSOCK");
  EXPECT_EQ(SocketErrorText(12345), "unknown error 12345");
  EXPECT_EQ(SocketErrorText(10046), "unknown error 10046");
  EXPECT_EQ(SocketErrorText(-100000), "errno 100000 (Unknown error 100000)");
  EXPECT_EQ(SocketErrorText(INT32_MIN).rfind("errno 2147483648 (", 0), 0u);
}

}  // namespace
