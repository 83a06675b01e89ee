#include "tests/common/PrivateNetwork.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace testing_support {

namespace {

void Run(const std::string& command) {
  if (std::system((command + " 2>/dev/null").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void WriteSetting(const std::string& path, const std::string& value) {
  std::ofstream(path) << value << "\n";
}

}  // namespace

bool PrivateNetwork::Available() { return std::getenv("VELNOR_PRIVATE_NETNS") != nullptr; }

void PrivateNetwork::LoopbackHostsOnly() {
  Run("ip -4 addr flush dev lo");
  Run("ip addr add 127.0.0.1/32 dev lo");
}

void PrivateNetwork::AddAddress(const std::string& address) { Run("ip addr replace " + address + "/32 dev lo"); }

void PrivateNetwork::RemoveAddress(const std::string& address) {
  std::system(("ip addr del " + address + "/32 dev lo 2>/dev/null").c_str());
}

std::string PrivateNetwork::SilentNetwork() {
  if (std::system("ip link show velnor0 >/dev/null 2>&1") != 0) {
    Run("ip link add velnor0 type veth peer name velnor1");
    Run("ip addr add 10.9.0.1/24 dev velnor0");
    Run("ip link set velnor0 up");
    Run("ip link set velnor1 up");
    Run("ip neigh replace 10.9.0.254 lladdr 02:00:00:00:00:fe dev velnor0 nud permanent");
    Run("ip route replace 10.10.0.0/16 via 10.9.0.254");
  }
  return "10.10.0.";
}

void PrivateNetwork::AnswerEcho(bool on) { WriteSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", on ? "0" : "1"); }

void PrivateNetwork::PingGroupRange(const std::string& range) {
  WriteSetting("/proc/sys/net/ipv4/ping_group_range", range);
}

}  // namespace testing_support
