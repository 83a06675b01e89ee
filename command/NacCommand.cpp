#include "command/NacCommand.h"

#include <new>
#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/NacPersistence.h"
#include "command/ShowColumns.h"
#include "command/ShowPieces.h"
#include "registry/NacDataList.h"
#include "support/Syslog.h"

namespace {

constexpr const char kUsage[] =
    "nac: invalid option\r\n\r\n"
    "Usage: nac OPERATION [TARGET] [source SRC_IP] [source-mac SRC_MAC]\r\n\r\n"
    "Examples:\r\n"
    "  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n"
    "  nac del accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n"
    "  nac show\r\n\r\n"
    "OPERATION:         (add/del/show)\r\n"
    "TARGET:            (accept/drop)\r\n"
    "SRC_IP:            IP address of PC\r\n"
    "SRC_MAC:           MAC address of PC\r\n"
    "SRC_FQDN:          FQDN of PC\r\n";

constexpr const char kAddUsage[] =
    "nac: invalid option\r\n\r\n"
    "Usage: nac add TARGET source SRC_IP [source-mac SRC_MAC]\r\n\r\n"
    "Examples:\r\n"
    "  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n";

constexpr const char kDelUsage[] =
    "nac: invalid option\r\n\r\n"
    "Usage: nac del TARGET source SRC_IP [source-mac SRC_MAC]\r\n\r\n"
    "Examples:\r\n"
    "  nac del accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n";

constexpr const char kShowUsage[] =
    "nac: invalid option\r\n\r\nUsage: nac show\r\n\r\nExamples:\r\n  nac show\r\n";

constexpr const char kStopText[] =
    "nac: invalid option\r\n\r\nUsage: nac stop\r\n\r\nExamples:\r\n  nac stop\r\n\r\nNonimplement\r\n";

constexpr const char kStartText[] =
    "nac: invalid option\r\n\r\nUsage: nac start\r\n\r\nExamples:\r\n  nac start\r\n\r\nNonimplement\r\n";


constexpr CommandOption<CNacData> kOptions[] = {
    {"source", [](CNacData& entry, const char* value) { return entry.SetSource(value); }},
    {"source-mac", [](CNacData& entry, const char* value) { return entry.SetMac(value); }},
};

// Accept is tried first, so an empty TARGET word means accept.
bool ReadTarget(const char* word, CNacData& entry) {
  if (IsLeadingPart(word, "accept")) {
    entry.target = CNacData::kAccept;
  } else if (IsLeadingPart(word, "drop")) {
    entry.target = CNacData::kDrop;
  } else {
    return false;
  }
  return true;
}

// TARGET at word 2, options from word 3; the source is required.
bool ReadEntry(int wordCount, char** words, CNacData& entry) {
  if (!ReadTarget(words[2], entry)) return false;
  if (!ReadOptions<CNacData>(wordCount, words, 3, kOptions, entry)) return false;
  return !entry.sourceText.empty();
}

std::int32_t Add(int socket, int wordCount, char** words) {
  if (wordCount < 5) return ReplyWith(socket, kAddUsage, 0);
  const std::int32_t result =
      AddRecord(socket, wordCount, words, GetNacDataList(), ReadEntry, kAddUsage, "I failed in making of CNacData.");
  if (result == command_event::kAdd) PersistNacEntries();
  return result;
}

std::int32_t Del(int socket, int wordCount, char** words) {
  if (wordCount < 5) return ReplyWith(socket, kDelUsage, 0);
  CNacData key;
  if (!ReadEntry(wordCount, words, key)) return ReplyWith(socket, kDelUsage, 0);
  if (GetNacDataList().MarkDeleted(key) > 0) PersistNacEntries();
  return command_event::kDel;
}

const char* TargetText(std::int32_t target) {
  if (target == CNacData::kAccept) return "accept";
  if (target == CNacData::kDrop) return "drop";
  return "";
}

bool ShowLine(const CNacData& entry, std::string& out) {
  out += TargetText(entry.target);
  out += '\t';
  if (entry.sourceText.empty()) out += '\t';
  AppendColumn(out, entry.sourceText);
  out += entry.macText;
  out += "\r\n";
  return true;
}

std::int32_t Show(int socket, int wordCount, char** words) {
  // The listing takes no filter: options are read only to be refused.
  CNacData filter;
  if (!ReadOptions<CNacData>(wordCount, words, 2, kOptions, filter) || !filter.sourceText.empty() ||
      !filter.macText.empty()) {
    return ReplyWith(socket, kShowUsage, 0);
  }
  if (SendReply(socket, "TARGET\tDESTINATION\tADDRESS\t\t\tFQDN\r\n") != 0) return -1;
  return SendListing(socket, GetNacDataList(), ShowLine);
}

std::int32_t Stop(int socket, int /*wordCount*/, char** /*words*/) { return ReplyWith(socket, kStopText, 0); }

std::int32_t Start(int socket, int /*wordCount*/, char** /*words*/) { return ReplyWith(socket, kStartText, 0); }

constexpr SubCommand kSubCommands[] = {{"add", Add}, {"del", Del}, {"show", Show}, {"stop", Stop}, {"start", Start}};

}  // namespace

std::int32_t NacCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, Show, kUsage);
}
