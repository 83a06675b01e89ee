#pragma once

#include <string>

namespace testing_support {

// What a test may do to the network namespace that tests/isolate.sh gave its binary (as
// root): change the loopback addresses and the ICMP settings. Nothing here leaves it.
class PrivateNetwork {
 public:
  // Whether this process runs in such a namespace; tests that probe skip otherwise.
  static bool Available();

  // Leaves lo with 127.0.0.1/32 alone, so that other loopback addresses answer only once
  // added and a removed one has no route at all.
  static void LoopbackHostsOnly();
  static void AddAddress(const std::string& address);
  static void RemoveAddress(const std::string& address);
  // Whether the kernel answers echo requests.
  static void AnswerEcho(bool on);
  // Routes 10.10.0.0/16 out of a veth pair to a neighbour that does not exist: requests
  // to those addresses leave without a trace and nothing comes back, as from a gateway
  // that drops them. Gives the first three parts of its addresses, "10.10.0.".
  static std::string SilentNetwork();
  // net.ipv4.ping_group_range: who may open ICMP datagram sockets.
  static void PingGroupRange(const std::string& range);
};

}  // namespace testing_support
