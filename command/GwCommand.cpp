#include "command/GwCommand.h"

#include <memory>
#include <new>
#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/ShowColumns.h"
#include "command/ShowPieces.h"
#include "registry/GwDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"

namespace {

constexpr char kUsage[] =
    "gw: invalid option\r\n\r\n"
    "Usage: gw OPERATION [TARGET] [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
    "Examples:\r\n"
    "  gw add 172.16.0.1\r\n"
    "  gw del 172.16.0.1\r\n"
    "  gw save\r\n"
    "  gw load\r\n"
    "  gw clear\r\n"
    "  gw show\r\n\r\n"
    "OPERATION:         (add/del/save/load/clear/show)\r\n"
    "TARGET:            IP address of GW\r\n"
    "SRC_PORT:          Port number of HTTP protocol\r\n"
    "ID:                user id of GW\r\n"
    "PW:                Password of GW\r\n";
constexpr char kAddUsage[] =
    "gw: invalid option\r\n\r\nUsage: gw add TARGET [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
    "Examples:\r\n  gw add 172.16.0.1\r\n";
constexpr char kDelUsage[] =
    "gw: invalid option\r\n\r\nUsage: gw del TARGET [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
    "Examples:\r\n  gw del 172.16.0.1\r\n";
constexpr char kSaveUsage[] = "gw: invalid option\r\n\r\nUsage: gw save\r\n\r\nExamples:\r\n  gw save\r\n";
constexpr char kLoadUsage[] = "gw: invalid option\r\n\r\nUsage: gw load\r\n\r\nExamples:\r\n  gw load\r\n";
constexpr char kClearUsage[] = "gw: invalid option\r\n\r\nUsage: gw clear\r\n\r\nExamples:\r\n  gw clear\r\n";
// Kept with its handler although the listing takes every word after it.
[[maybe_unused]] constexpr char kShowUsage[] =
    "gw: invalid option\r\n\r\nUsage: gw show\r\n\r\nExamples:\r\n  gw show\r\n";

constexpr char kMemoryThrow[] = "memory throw\r\n";

bool ApplyPort(CGwData& gateway, const char* value) {
  gateway.portText = value;
  gateway.port = ParseNumberInRange(value, 1, 65535);
  return gateway.port != 0;
}

bool ApplyUser(CGwData& gateway, const char* value) {
  gateway.user = value;
  return SurvivesRegistryFile(value);
}

bool ApplyPassword(CGwData& gateway, const char* value) {
  gateway.password = value;
  return SurvivesRegistryFile(value);
}

constexpr CommandOption<CGwData> kOptions[] = {
    {"sport", ApplyPort},
    {"user", ApplyUser},
    {"pass", ApplyPassword},
};

// A gateway with its defaults; none, logged, when there is no memory for it.
std::unique_ptr<CGwData> MakeGateway() {
  try {
    return std::make_unique<CGwData>();
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "I failed in making of CGwData.");
    return nullptr;
  }
}

// TARGET and the options after it; false on any argument error.
bool FillGateway(int wordCount, char** words, CGwData& gateway) {
  gateway.addressText = words[2];
  if (!ParseIPv4Value(words[2], gateway.address)) return false;
  return ReadOptions<CGwData>(wordCount, words, 3, kOptions, gateway);
}

std::int32_t GwAdd(int socket, int wordCount, char** words) {
  if (wordCount < 3) return ReplyWith(socket, kAddUsage, 0);
  return AddRecord(socket, wordCount, words, GetGwDataList(), FillGateway, kAddUsage, "I failed in making of CGwData.");
}

std::int32_t GwDel(int socket, int wordCount, char** words) {
  if (wordCount < 3) return ReplyWith(socket, kDelUsage, 0);
  std::unique_ptr<CGwData> key = MakeGateway();
  if (!key) return ReplyWith(socket, kMemoryThrow, 0);
  // user and pass are read for their errors only: the match looks at address and port.
  if (!FillGateway(wordCount, words, *key)) return ReplyWith(socket, kDelUsage, 0);
  GetGwDataList().MarkDeleted(*key);
  return command_event::kDel;
}

std::int32_t GwSave(int socket, int wordCount, char** /*words*/) {
  return SaveRegistry(socket, wordCount, GetGwDataList(), CGwDataList::kFileName, kSaveUsage);
}

std::int32_t GwLoad(int socket, int wordCount, char** /*words*/) {
  return LoadRegistry(socket, wordCount, GetGwDataList(), CGwDataList::kFileName, kLoadUsage);
}

std::int32_t GwClear(int socket, int wordCount, char** /*words*/) {
  return ClearRegistry(socket, wordCount, GetGwDataList(), kClearUsage);
}

bool ShowLine(const CGwData& gateway, std::string& out) {
  AppendColumn(out, gateway.addressText);
  out += gateway.portText + '\t' + gateway.user + '\t';
  if (!gateway.password.empty()) out += "********";
  out += "\r\n";
  return true;
}

std::int32_t GwShow(int socket, int /*wordCount*/, char** /*words*/) {
  if (SendReply(socket, "GW\t\tPORT\tID\tPW\r\n") != 0) return -1;
  return SendListing(socket, GetGwDataList(), ShowLine);
}

// In lookup order: word 1 picks the first name it is a leading part of.
constexpr SubCommand kSubCommands[] = {{"add", GwAdd},   {"del", GwDel},     {"save", GwSave},
                                       {"load", GwLoad}, {"clear", GwClear}, {"show", GwShow}};

}  // namespace

std::int32_t GwCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, GwShow, kUsage, true);
}
