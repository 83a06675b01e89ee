#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/PeerProcess.h"

namespace testing_support {

// velnor-gw, the gateway simulator built beside velnor, run as a process of its own and
// driven through its control port: simulated gateways for tests that link only the service.
class GatewayPeers {
 public:
  // One gateway per "ADDR:PORT"; the control port on 127.0.0.1:controlPort. Throws
  // std::runtime_error when velnor-gw is not built or does not come to listen.
  GatewayPeers(const std::vector<std::string>& gateways, std::uint16_t controlPort);

  // The reply to one control command without its closing "." line; none when the control
  // port does not answer within the time-out.
  std::optional<std::string> Control(const std::string& command,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // The rules one gateway holds, sorted, each "NAME RULE...".
  std::vector<std::string> Rules(const std::string& gateway) const;
  // The complete requests one gateway has read.
  std::uint64_t Requests(const std::string& gateway) const;
  // Whether it has read at least count requests within the time-out.
  bool WaitForRequests(const std::string& gateway, std::uint64_t count, std::chrono::milliseconds timeout) const;
  // Ends velnor-gw with SIGTERM; its exit code, none when it had to be killed.
  std::optional<int> Stop() { return process_.Stop(); }

 private:
  std::uint16_t controlPort_;
  PeerProcess process_;
};

}  // namespace testing_support
