#include "insight/AclCommand.h"

#include <string>
#include <vector>

#include "acl/GatewayRuleSet.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/ShowColumns.h"
#include "insight/FleetStatus.h"
#include "platform/Clock.h"
#include "registry/GwDataList.h"
#include "support/AddressParse.h"

namespace {

constexpr char kUsage[] =
    "acl: invalid option\r\n\r\nUsage: acl OPERATION [TARGET]\r\n\r\nExamples:\r\n  acl show\r\n"
    "  acl show 172.16.0.1\r\n  acl status\r\n\r\nOPERATION:         (show/status)\r\n"
    "TARGET:            IP address of GW\r\n";

std::int32_t Show(int socket, int wordCount, char** words) {
  if (wordCount == 2) {
    std::string text = "GW\t\tPORT\tRULES\r\n";
    VisitGatewayRuleLines([&](const GatewayRuleLines& gateway) {
      AppendColumn(text, gateway.addressText);
      text += std::to_string(gateway.port) + "\t" + std::to_string(gateway.requests) + "\r\n";
    });
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

std::int32_t Status(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kUsage, 0);
  std::string text;
  text.reserve(static_cast<std::size_t>(GetGwDataList().GetCount(false)) * 100);
  const std::uint32_t now = platform::RealClock().NowMs();
  VisitFleetStatus([&](const GatewayStatus& gateway) {
    const GatewayLedger::Entry& seen = gateway.seen;
    text += gateway.addressText;
    text += ':';
    text += std::to_string(gateway.port);
    text += gateway.on ? " ON" : " OFF";
    text += " queued ";
    text += std::to_string(gateway.waiting);
    text += " delivered ";
    text += std::to_string(seen.delivered);
    text += " failed ";
    text += std::to_string(seen.failedTries);
    text += " dropped ";
    text += std::to_string(seen.dropped);
    text += " last ";
    if (seen.lastWord.empty()) {
      text += "none";
    } else {
      text += '"';
      text += seen.lastWord;
      text += "\" ";
      text += std::to_string((now - seen.lastAnswerMs) / 1000);
      text += " s ago";
    }
    text += ' ';
    text += gateway.SyncText();
    text += "\r\n";
  });
  return SendReply(socket, text) == 0 ? 0 : -1;
}

}  // namespace

std::int32_t AclCommand(int socket, int wordCount, char** words) {
  if (wordCount >= 2 && IsWord(words[1], "show")) return Show(socket, wordCount, words);
  if (wordCount >= 2 && IsWord(words[1], "status")) return Status(socket, wordCount, words);
  return ReplyWith(socket, kUsage, 0);
}
