#include "command/QuarantineCommand.h"

#include <cstring>
#include <new>
#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/ShowColumns.h"
#include "command/ShowPieces.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"

namespace {

constexpr const char kUsage[] =
    "quarantine: invalid option\r\n\r\n"
    "Usage: quarantine OPERATION [source SRC_IP] [protocol PROTO] [sport SRC_PORT]\r\n\r\n"
    "Examples:\r\n"
    "  quarantine add source 172.17.254.254 protocol tcp sport 4208\r\n"
    "  quarantine del source 172.17.254.254 protocol tcp sport 4208\r\n"
    "  quarantine save\r\n"
    "  quarantine load\r\n"
    "  quarantine clear\r\n"
    "  quarantine show\r\n\r\n"
    "OPERATION:         (add/del/save/load/clear/show)\r\n"
    "SRC_IP:            IP address of Quarantine Server\r\n"
    "PROTO:             Communication protocol\r\n"
    "SRC_PORT:          Port number of Quarantine Server\r\n";

constexpr const char kAddUsage[] =
    "quarantine: invalid option\r\n\r\n"
    "Usage: quarantine add source SRC_IP protocol PROTO sport SRC_PORT\r\n\r\n"
    "Examples:\r\n"
    "  quarantine add source 172.17.254.254 protocol tcp sport 4208\r\n";

constexpr const char kDelUsage[] =
    "quarantine: invalid option\r\n\r\n"
    "Usage: quarantine del source SRC_IP protocol PROTO sport SRC_PORT\r\n\r\n"
    "Examples:\r\n"
    "  quarantine del source 172.17.254.254 protocol tcp sport 4208\r\n";

constexpr const char kSaveUsage[] =
    "quarantine: invalid option\r\n\r\nUsage: quarantine save\r\n\r\nExamples:\r\n  quarantine save\r\n";
constexpr const char kLoadUsage[] =
    "quarantine: invalid option\r\n\r\nUsage: quarantine load\r\n\r\nExamples:\r\n  quarantine load\r\n";
constexpr const char kClearUsage[] =
    "quarantine: invalid option\r\n\r\nUsage: quarantine clear\r\n\r\nExamples:\r\n  quarantine clear\r\n";

// Only the first three characters name the protocol; the text is kept as typed.
bool SetProtocol(CQuarantineData& server, const char* value) {
  server.protocol = value;
  return (std::strncmp(value, "tcp", 3) == 0 || std::strncmp(value, "udp", 3) == 0) && SurvivesRegistryFile(value);
}

constexpr CommandOption<CQuarantineData> kOptions[] = {
    {"source", [](CQuarantineData& server, const char* value) { return server.SetSource(value); }},
    {"protocol", SetProtocol},
    {"sport", [](CQuarantineData& server, const char* value) { return server.SetPort(value); }},
};

// Every server needs all three of address, protocol and port.
bool ReadServer(int wordCount, char** words, CQuarantineData& server) {
  return ReadOptions<CQuarantineData>(wordCount, words, 2, kOptions, server) && !server.sourceText.empty() &&
         !server.protocol.empty() && !server.portText.empty();
}

std::int32_t Add(int socket, int wordCount, char** words) {
  if (wordCount < 8) return ReplyWith(socket, kAddUsage, 0);
  return AddRecord(socket, wordCount, words, GetQuarantineDataList(), ReadServer, kAddUsage,
                   "I failed in making of CQuarantineData.");
}

std::int32_t Del(int socket, int wordCount, char** words) {
  if (wordCount < 8) return ReplyWith(socket, kDelUsage, 0);
  CQuarantineData key;
  if (!ReadServer(wordCount, words, key)) return ReplyWith(socket, kDelUsage, 0);
  GetQuarantineDataList().MarkDeleted(key);
  return command_event::kDel;
}

std::int32_t Clear(int socket, int wordCount, char** /*words*/) {
  return ClearRegistry(socket, wordCount, GetQuarantineDataList(), kClearUsage);
}

std::int32_t Save(int socket, int wordCount, char** /*words*/) {
  return SaveRegistry(socket, wordCount, GetQuarantineDataList(), CQuarantineDataList::kFileName, kSaveUsage);
}

std::int32_t Load(int socket, int wordCount, char** /*words*/) {
  return LoadRegistry(socket, wordCount, GetQuarantineDataList(), CQuarantineDataList::kFileName, kLoadUsage);
}

// A server without an address ends the listing.
bool ShowLine(const CQuarantineData& server, std::string& out) {
  if (server.sourceText.empty()) return false;
  AppendColumn(out, server.sourceText);
  out += server.protocol;
  out += "\t\t";
  out += server.portText;
  out += "\r\n";
  return true;
}

std::int32_t Show(int socket, int /*wordCount*/, char** /*words*/) {
  if (SendReply(socket, "DESTINATION\tPROTOCOL\tPORT\r\n") != 0) return -1;
  return SendListing(socket, GetQuarantineDataList(), ShowLine);
}

constexpr SubCommand kSubCommands[] = {{"add", Add},   {"del", Del},   {"clear", Clear},
                                       {"save", Save}, {"load", Load}, {"show", Show}};

}  // namespace

std::int32_t QuarantineCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, Show, kUsage);
}
