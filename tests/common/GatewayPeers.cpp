#include "tests/common/GatewayPeers.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/common/ConsoleClient.h"

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

// A "quit" after the command: the reply is all the control port sends before it closes.
std::optional<std::string> GatewayPeers::Control(const std::string& command, std::chrono::milliseconds timeout) const {
  ConsoleClient client(controlPort_);
  std::optional<std::string> reply = client.Send(command + "\nquit\n") ? client.ReadToClose(timeout) : std::nullopt;
  if (!reply || !reply->ends_with(".\n")) return std::nullopt;
  reply->resize(reply->size() - 2);
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
