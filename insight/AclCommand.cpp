#include "insight/AclCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "acl/GatewayRuleSet.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/ShowColumns.h"
#include "delivery/GatewayLedger.h"
#include "insight/InsightSources.h"
#include "platform/Clock.h"
#include "request/RuleLedger.h"
#include "support/AddressParse.h"

namespace {

constexpr char kUsage[] =
    "acl: invalid option\r\n\r\nUsage: acl OPERATION [TARGET]\r\n\r\nExamples:\r\n  acl show\r\n"
    "  acl show 172.16.0.1\r\n  acl status\r\n\r\nOPERATION:         (show/status)\r\n"
    "TARGET:            IP address of GW\r\n";

std::int32_t Show(int socket, int wordCount, char** words) {
  if (wordCount == 2) {
    std::string text = "GW\t\tPORT\tRULES\r\n";
    for (const GatewayRuleLines& gateway : GatewayRuleLineSets()) {
      AppendColumn(text, gateway.addressText);
      text += std::to_string(gateway.port) + "\t" + std::to_string(gateway.requests) + "\r\n";
    }
    return ReplyWith(socket, text.c_str(), 0);
  }
  std::uint32_t address = 0;
  if (wordCount != 3 || !ParseIPv4Value(words[2], address)) return ReplyWith(socket, kUsage, 0);
  const std::vector<CHttpData> requests = GatewayRuleSet(address);
  if (requests.empty()) {
    return ReplyWith(socket, (std::string("acl: ") + words[2] + " is not a registered gateway.\r\n").c_str(), 0);
  }
  std::string text;
  for (const CHttpData& request : requests) text += request.body + "\r\n";
  return ReplyWith(socket, text.c_str(), 0);
}

// "in sync", or what the gateway lacks and holds beyond what it should.
std::string Sync(const RuleSet& should, const RuleSet& holds) {
  std::size_t missing = 0;
  for (const std::string& rule : should) missing += holds.count(rule) == 0 ? 1 : 0;
  std::size_t extra = 0;
  for (const std::string& rule : holds) extra += should.count(rule) == 0 ? 1 : 0;
  if (missing == 0 && extra == 0) return "in sync";
  return "missing " + std::to_string(missing) + " extra " + std::to_string(extra);
}

std::int32_t Status(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kUsage, 0);
  std::string text;
  const std::uint32_t now = platform::RealClock().NowMs();
  for (const GatewayRuleLines& gateway : GatewayRuleLineSets()) {
    const std::optional<GatewayLedger::Entry> entry = GetGatewayLedger().Find(gateway.address);
    const GatewayLedger::Entry none;
    const GatewayLedger::Entry& seen = entry ? *entry : none;
    text += gateway.addressText + ":" + std::to_string(gateway.port) + (gateway.on ? " ON" : " OFF") + " queued " +
            std::to_string(WaitingRequests(gateway.address)) + " delivered " + std::to_string(seen.delivered) +
            " failed " + std::to_string(seen.failedTries) + " dropped " + std::to_string(seen.dropped) + " last ";
    text += seen.lastWord.empty() ? std::string("none")
                                  : "\"" + seen.lastWord + "\" " + std::to_string((now - seen.lastAnswerMs) / 1000) + " s ago";
    text += " " + Sync(gateway.rules, seen.rules) + "\r\n";
  }
  return SendReply(socket, text) == 0 ? 0 : -1;
}

}  // namespace

std::int32_t AclCommand(int socket, int wordCount, char** words) {
  if (wordCount >= 2 && IsWord(words[1], "show")) return Show(socket, wordCount, words);
  if (wordCount >= 2 && IsWord(words[1], "status")) return Status(socket, wordCount, words);
  return ReplyWith(socket, kUsage, 0);
}
