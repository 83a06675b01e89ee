#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gwsim {

class GatewaySimulator;

// The control protocol of velnor-gw, one line in, reply lines out. Every reply ends with a
// line holding a single "."; a setting taken replies "ok" before it, a refused command
// "error: WHY". ADDR:PORT names
// one gateway; without it a command covers them all.
//
//   rules [ADDR:PORT]       every rule, sorted, each line "ADDR:PORT NAME RULE"
//   stats [ADDR:PORT]       "ADDR:PORT connections=N requests=N applied=N rejected=N errors=N rules=N"
//   set [ADDR:PORT] word TEXT...        the result word (the rest of the line, may be empty)
//   set [ADDR:PORT] status N            the HTTP status, 100 to 999
//   set [ADDR:PORT] delay MS            a pause before each answer
//   set [ADDR:PORT] chunked on|off      chunked answers, or Content-Length
//   set [ADDR:PORT] fault none|refuse|close|garbage|silent|trickle|endless
//   set [ADDR:PORT] fault raw BYTES...  send BYTES instead of an answer; \r \n \t \\ \xHH
//   help
class ControlCommands {
 public:
  explicit ControlCommands(std::vector<GatewaySimulator*> gateways) : gateways_(std::move(gateways)) {}

  std::string Run(std::string_view line) const;
  // Every gateway's rules as the rules command lists them, without the final ".".
  std::string RulesText() const;

 private:
  std::string Set(const std::vector<GatewaySimulator*>& targets, std::string_view what) const;

  std::vector<GatewaySimulator*> gateways_;
};

// Reads the escapes of a raw answer: \r \n \t \\ and \xHH. None when an escape is broken.
std::optional<std::string> Unescape(std::string_view text);

}  // namespace gwsim
