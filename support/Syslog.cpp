#include "support/Syslog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "platform/InterfaceAddress.h"
#include "platform/UniqueFd.h"
#include "support/Settings.h"

namespace {

constexpr uint16_t kSyslogPort = 514;
constexpr std::size_t kTextSize = 1024;

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Sending only reads the socket, host and tag, so senders share the lock; opening,
// closing and OpenSyslog take it alone. Only one opening can therefore make a socket.
struct LogState {
  std::shared_mutex mutex;
  std::atomic<int> threshold{7};
  int facility = 8;               // guarded by mutex
  int option = 0;                 // guarded by mutex
  std::string tag;                // guarded by mutex
  platform::UniqueSocket socket;  // guarded by mutex
  std::string host;               // guarded by mutex
};

LogState& State() {
  static LogState state;
  return state;
}

bool ValidFacility(int facility) {
  if (facility < 0 || facility % 8 != 0) return false;
  return facility <= 88 || (facility >= 128 && facility <= 184);
}

std::string HostText() {
  char name[kTextSize] = {};
  if (gethostname(name, sizeof name - 1) == 0) return name;
  std::string address;
  if (!platform::FirstInterfaceAddress(address)) std::fputs("Call to GetAdaptersInfo failed.\n", stdout);
  return address;
}

// Opens the socket; the caller holds the state's lock alone.
void OpenSocket(LogState& state) {
  if (state.socket) return;
  const std::optional<std::uint32_t> destination = settings::LogDestination();
  if (!destination) return;
  platform::UniqueSocket fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(kSyslogPort);
  // Port 514 is often taken by a local collector or needs privileges; the datagrams go
  // out from another port then.
  (void)::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(kSyslogPort);
  remote.sin_addr.s_addr = *destination;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) return;
  state.host = HostText();
  state.socket = std::move(fd);
}

}  // namespace

std::string FormatSyslogHeader(int priority, const std::tm& local, const std::string& host,
                               const std::string& tag) {
  char header[kTextSize];
  const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
  std::snprintf(header, sizeof header, "<%d>%s %.2d %.2d:%.2d:%.2d %s %s%s", priority,
                kMonths[month], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                host.c_str(), tag.c_str(), tag.empty() ? "" : ": ");
  return header;
}

int SyslogSendV(int priority, const char* format, va_list args) {
  LogState& state = State();
  if ((priority & 7) > state.threshold.load(std::memory_order_relaxed)) return 0;
  {
    std::shared_lock lock(state.mutex);
    if (!state.socket) {
      lock.unlock();
      std::unique_lock exclusive(state.mutex);
      OpenSocket(state);
    }
  }
  std::shared_lock lock(state.mutex);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if ((priority & ~7) == 0) priority |= state.facility;
  std::string line = FormatSyslogHeader(priority, local, state.host, state.tag);
  char text[kTextSize];
  std::vsnprintf(text, sizeof text, format, args);
  line += text;
  if (!state.socket) return -1;
  const ssize_t sent = ::send(state.socket.Get(), line.data(), line.size(), MSG_NOSIGNAL);
  return sent < 0 ? -1 : static_cast<int>(sent);
}

int SyslogSend(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = SyslogSendV(priority, format, args);
  va_end(args);
  return result;
}

int SetLogThreshold(int level) { return State().threshold.exchange(level); }

void OpenSyslog(const char* tag, int option, int facility) {
  if (!ValidFacility(facility)) return;
  LogState& state = State();
  std::unique_lock lock(state.mutex);
  state.tag.assign(tag != nullptr ? tag : "");
  if (state.tag.size() > kTextSize - 1) state.tag.resize(kTextSize - 1);
  state.option = option;
  state.facility = facility;
  if (option == 8) OpenSocket(state);
}

void CloseSyslog() {
  LogState& state = State();
  std::unique_lock lock(state.mutex);
  state.socket.Reset();
}
