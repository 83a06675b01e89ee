#include "tests/common/GatewayPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/UniqueFd.h"

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// velnor-gw as built beside velnor, with its gateways and control port.
std::vector<std::string> Arguments(const std::vector<std::string>& gateways, std::uint16_t controlPort) {
  const std::string path = (std::filesystem::path(VELNOR_BINARY).parent_path() / "velnor-gw").string();
  if (::access(path.c_str(), X_OK) != 0) throw std::runtime_error(path + " is not built (target velnor-gw)");
  std::vector<std::string> args{path, "--control", "127.0.0.1:" + std::to_string(controlPort)};
  args.insert(args.end(), gateways.begin(), gateways.end());
  return args;
}

}  // namespace

GatewayPeers::GatewayPeers(const std::vector<std::string>& gateways, std::uint16_t controlPort)
    : controlPort_(controlPort), process_(Arguments(gateways, controlPort), "velnor-gw.out", "velnor-gw.out") {
  bool listening = WaitForBoundSocket("tcp", "127.0.0.1", controlPort, std::chrono::seconds(10));
  for (const std::string& gateway : gateways) {
    const std::size_t colon = gateway.rfind(':');
    listening = listening && WaitForBoundSocket("tcp", gateway.substr(0, colon),
                                                static_cast<std::uint16_t>(std::stoi(gateway.substr(colon + 1))),
                                                std::chrono::seconds(10));
  }
  if (!listening) {
    process_.Stop();
    throw std::runtime_error("velnor-gw did not come to listen; see velnor-gw.out");
  }
}

std::optional<std::string> GatewayPeers::Control(const std::string& command, std::chrono::milliseconds timeout) const {
  platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in to{AF_INET, htons(controlPort_), {htonl(INADDR_LOOPBACK)}, {}};
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return std::nullopt;
  const std::string line = command + "\n";
  if (::send(socket.Get(), line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    return std::nullopt;
  }
  std::string reply;
  for (const auto deadline = Clock::now() + timeout;;) {
    if (reply == ".\n" || (reply.size() >= 3 && reply.compare(reply.size() - 3, 3, "\n.\n") == 0)) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd readable{socket.Get(), POLLIN, 0};
    if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(socket.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) return std::nullopt;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  reply.resize(reply.size() - 2);
  return reply;
}

std::vector<std::string> GatewayPeers::Rules(const std::string& gateway) const {
  std::vector<std::string> rules;
  std::istringstream lines(Control("rules " + gateway).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(gateway + " ", 0) == 0) rules.push_back(line.substr(gateway.size() + 1));
  }
  return rules;
}

std::uint64_t GatewayPeers::Requests(const std::string& gateway) const {
  const std::string stats = Control("stats " + gateway).value_or("");
  const std::size_t at = stats.find(" requests=");
  return at == std::string::npos ? 0 : std::stoull(stats.substr(at + 10));
}

bool GatewayPeers::WaitForRequests(const std::string& gateway, std::uint64_t count,
                                   std::chrono::milliseconds timeout) const {
  for (const auto deadline = Clock::now() + timeout; Requests(gateway) < count;) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testing_support
