#include "support/SocketErrorName.h"

#include <cstring>

namespace {

struct ErrorName {
  int number;
  const char* name;
};

// Searched from the first row; the order is kept as given, alphabetical by name.
constexpr ErrorName kErrorNames[] = {
    {10013, "WSAEACCES"},
    {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"},
    {10047, "WSAEAFNOSUPPORT"},
    {10037, "WSAEALREADY"},
    {10009, "WSAEBADF"},
    {10103, "WSAECANCELLED"},
    {10053, "WSAECONNABORTED"},
    {10061, "WSAECONNREFUSED"},
    {10054, "WSAECONNRESET"},
    {10039, "WSAEDESTADDRREQ"},
    {10101, "WSAEDISCON"},
    {10069, "WSAEDQUOT"},
    {10014, "WSAEFAULT"},
    {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"},
    {10036, "WSAEINPROGRESS"},
    {10004, "WSAEINTR"},
    {10022, "WSAEINVAL"},
    {10104, "WSAEINVALIDPROCTABLE"},
    {10105, "WSAEINVALIDPROVIDER"},
    {10056, "WSAEISCONN"},
    {10062, "WSAELOOP"},
    {10024, "WSAEMFILE"},
    {10040, "WSAEMSGSIZE"},
    {10063, "WSAENAMETOOLONG"},
    {10050, "WSAENETDOWN"},
    {10052, "WSAENETRESET"},
    {10051, "WSAENETUNREACH"},
    {10055, "WSAENOBUFS"},
    {10102, "WSAENOMORE"},
    {10042, "WSAENOPROTOOPT"},
    {10057, "WSAENOTCONN"},
    {10066, "WSAENOTEMPTY"},
    {10038, "WSAENOTSOCK"},
    {10045, "WSAEOPNOTSUPP"},
    {10067, "WSAEPROCLIM"},
    {10043, "WSAEPROTONOSUPPORT"},
    {10041, "WSAEPROTOTYPE"},
    {10106, "WSAEPROVIDERFAILEDINIT"},
    {10112, "WSAEREFUSED"},
    {10071, "WSAEREMOTE"},
    {10058, "WSAESHUTDOWN"},
    {10044, "WSAESOCKTNOSUPPORT"},
    {10070, "WSAESTALE"},
    {10060, "WSAETIMEDOUT"},
    {10059, "WSAETOOMANYREFS"},
    {10068, "WSAEUSERS"},
    {10035, "WSAEWOULDBLOCK"},
    {11001, "WSAHOST_NOT_FOUND"},
    {10093, "WSANOTINITIALISED"},
    {11004, "WSANO_DATA"},
    {11003, "WSANO_RECOVERY"},
    {10108, "WSASERVICE_NOT_FOUND"},
    {10107, "WSASYSCALLFAILURE"},
    {10091, "WSASYSNOTREADY"},
    {11002, "WSATRY_AGAIN"},
    {10109, "WSATYPE_NOT_FOUND"},
    {10092, "WSAVERNOTSUPPORTED"},
    {10111, "WSA_E_CANCELLED"},
    {10110, "WSA_E_NO_MORE"},
};

static_assert(sizeof kErrorNames / sizeof kErrorNames[0] == 61);

}  // namespace

const char* SocketErrorName(int error) {
  for (const ErrorName& row : kErrorNames) {
    if (row.number == error) return row.name;
  }
  return nullptr;
}

std::string SocketErrorText(int error) {
  if (const char* name = SocketErrorName(error)) return name;
  if (error >= 0) return "unknown error " + std::to_string(error);
  // -INT_MIN does not fit an int; no errno comes near it anyway.
  const long long err = -static_cast<long long>(error);
  char buffer[128];
  const char* text = err <= 0x7fffffff ? strerror_r(static_cast<int>(err), buffer, sizeof buffer)
                                        : "unknown";
  return "errno " + std::to_string(err) + " (" + text + ")";
}
