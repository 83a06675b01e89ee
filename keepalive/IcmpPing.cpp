#include "keepalive/IcmpPing.h"

#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <string>

#include "keepalive/EchoRequest.h"
#include "platform/Clock.h"
#include "platform/UniqueFd.h"
#include "support/Settings.h"
#include "support/Syslog.h"

namespace {

constexpr int kTimeToLive = 32;
constexpr timeval kWaitLimit{1, 0};
constexpr std::size_t kReceiveSize = 1514;
constexpr std::size_t kLibraryDataSize = 4;

const std::uint8_t* Bytes(const std::uint32_t& address) { return reinterpret_cast<const std::uint8_t*>(&address); }

void LogGateway(const char* format, std::uint32_t address) {
  const std::uint8_t* a = Bytes(address);
  SyslogSend(7, format, a[0], a[1], a[2], a[3]);
}

sockaddr_in Destination(std::uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  return to;
}

bool SetWaitLimits(int fd) {
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kWaitLimit, sizeof kWaitLimit) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kWaitLimit, sizeof kWaitLimit) == 0;
}

ssize_t Receive(int fd, std::uint8_t* buffer, std::size_t size) {
  ssize_t received;
  do {
    received = ::recv(fd, buffer, size, 0);
  } while (received < 0 && errno == EINTR);
  return received;
}

}  // namespace

PingMode ReadPingMode() {
  return settings::PingLibraryModeOn() ? PingMode::kLibrary : PingMode::kRaw;
}

int RawPing(std::uint32_t address, std::uint16_t identifier) {
  platform::UniqueFd socket(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (socket.Get() < 0 || !SetWaitLimits(socket.Get())) return -1;
  const auto request = BuildEchoRequest(identifier, platform::TickCount());
  if (::setsockopt(socket.Get(), IPPROTO_IP, IP_TTL, &kTimeToLive, sizeof kTimeToLive) != 0) return -1;
  const sockaddr_in to = Destination(address);
  if (::sendto(socket.Get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
      static_cast<ssize_t>(request.size())) {
    return -1;
  }
  LogGateway("I transmitted PING to GW(%d.%d.%d.%d).", address);
  std::uint8_t packet[kReceiveSize];
  for (;;) {
    // Each packet that is not ours starts a new wait; a time-out or any other failure ends
    // the probe unanswered.
    const ssize_t received = Receive(socket.Get(), packet, sizeof packet);
    if (received < 0) return -1;
    if (IsEchoAnswer(packet, static_cast<std::size_t>(received), identifier)) {
      LogGateway("I received a PING reply of GW(%d.%d.%d.%d).", address);
      return 0;
    }
  }
}

int LibraryPing(std::uint32_t address) {
  platform::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (socket.Get() < 0) {
    SyslogSend(7, "I failed in load of an ICMP.DLL library.");
    return -1;
  }
  if (!SetWaitLimits(socket.Get())) return -1;
  std::uint8_t request[sizeof(icmphdr) + kLibraryDataSize] = {};
  request[0] = ICMP_ECHO;
  for (std::size_t i = 0; i < kLibraryDataSize; ++i) request[sizeof(icmphdr) + i] = static_cast<std::uint8_t>(kEchoText[i]);
  LogGateway("I transmitted PING to GW(%d.%d.%d.%d).", address);
  const sockaddr_in to = Destination(address);
  if (::sendto(socket.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
      static_cast<ssize_t>(sizeof request)) {
    return -1;
  }
  std::uint8_t reply[kReceiveSize];
  for (;;) {
    const ssize_t received = Receive(socket.Get(), reply, sizeof reply);
    if (received < 0) return -1;
    if (static_cast<std::size_t>(received) >= sizeof(icmphdr) && reply[0] == ICMP_ECHOREPLY) {
      LogGateway("I received a PING reply of GW(%d.%d.%d.%d).", address);
      return 0;
    }
  }
}
