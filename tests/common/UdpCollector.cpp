#include "tests/common/UdpCollector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <stdexcept>

#include "support/Syslog.h"

namespace testing_support {

UdpCollector::UdpCollector(int host) {
  if (host <= 0) host = 2 + static_cast<int>(getpid() % 250);
  address_ = "127.0.0." + std::to_string(host);
  socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int room = 4 << 20;  // beyond the system's limit only as root
  ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
  sockaddr_in addr{AF_INET, htons(514), {}, {}};
  inet_pton(AF_INET, address_.c_str(), &addr.sin_addr);
  if (!socket_ || ::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("cannot bind the log collector on " + address_ + ":514");
  }
}

std::unique_ptr<UdpCollector> UdpCollector::OnFreeAddress() {
  thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 20; ++attempt) {
    try {
      return std::make_unique<UdpCollector>(std::uniform_int_distribution<int>(2, 254)(random));
    } catch (const std::runtime_error&) {
    }
  }
  throw std::runtime_error("no free loopback address for the log collector");
}

std::string UdpCollector::SyslogIni(const std::string& mask) const {
  return "[SYSLOG]\r\nDESTINATION=" + address_ + "\r\nPRIORITYMASK=" + mask + "\r\n";
}

void UdpCollector::TakeTheLog(const std::string& mask) const {
  std::ofstream("syslog.ini") << SyslogIni(mask);
  CloseSyslog();
  SetLogThreshold(7);
}

std::optional<std::string> UdpCollector::Next(std::chrono::milliseconds timeout, std::uint16_t* fromPort) {
  pollfd p{socket_.Get(), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  char buffer[65536];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = ::recvfrom(socket_.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  if (fromPort != nullptr) *fromPort = ntohs(from.sin_port);
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::optional<std::vector<std::string>> UdpCollector::Until(const std::string& text,
                                                            std::chrono::milliseconds timeout) {
  std::vector<std::string> seen;
  for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto datagram = left.count() > 0 ? Next(left) : std::nullopt;
    if (!datagram) return std::nullopt;
    seen.push_back(*datagram);
    if (datagram->find(text) != std::string::npos) return seen;
  }
}

std::vector<std::string> UdpCollector::Drain(std::chrono::milliseconds quiet) {
  std::vector<std::string> seen;
  while (auto datagram = Next(quiet)) seen.push_back(*datagram);
  return seen;
}

std::string LogText(const std::string& datagram, const std::string& tag) {
  // Header: "<pri>Mon dd hh:mm:ss host "; the host holds no blanks.
  std::size_t pos = 0;
  for (int blanks = 0; blanks < 4; ++blanks) {
    pos = datagram.find(' ', pos);
    if (pos == std::string::npos) return datagram;
    ++pos;
  }
  if (!tag.empty()) {
    const std::string prefix = tag + ": ";
    if (datagram.compare(pos, prefix.size(), prefix) != 0) return datagram;
    pos += prefix.size();
  }
  return datagram.substr(pos);
}

std::vector<std::string> LogTexts(const std::vector<std::string>& datagrams, const std::string& tag) {
  std::vector<std::string> texts;
  for (const std::string& datagram : datagrams) texts.push_back(LogText(datagram, tag));
  return texts;
}

}  // namespace testing_support
