#include "command/PcCommand.h"

#include <new>
#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/DefaultNetmask.h"
#include "command/ShowColumns.h"
#include "command/ShowPieces.h"
#include "registry/PcDataList.h"
#include "support/Syslog.h"

namespace {

constexpr const char kUsage[] =
    "pc: invalid option\r\n\r\n"
    "Usage: pc OPERATION [source-mac SRC_MAC [source SRC_IP]] [network NW [netmask NM]]\r\n\r\n"
    "Examples:\r\n"
    "  pc add source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc add network 192.168.0.0 netmask 255.255.255.0\r\n"
    "  pc del source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc del network 192.168.0.0 netmask 255.255.255.0\r\n"
    "  pc save\r\n"
    "  pc load\r\n"
    "  pc clear\r\n"
    "  pc show\r\n\r\n"
    "OPERATION:         (add/del/save/load/clear/show)\r\n"
    "SRC_MAC:           MAC address of PC\r\n"
    "SRC_IP:            IP address of PC\r\n"
    "NW:                Network address\r\n"
    "NM:                Netmask information\r\n";

constexpr const char kAddUsage[] =
    "pc: invalid option\r\n\r\n"
    "Usage: pc add [source-mac SRC_MAC [source SRC_IP]] [network NW [netmask NM]]\r\n\r\n"
    "Examples:\r\n"
    "  pc add source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc add network 192.168.0.0 netmask 255.255.255.0\r\n";

constexpr const char kDelUsage[] =
    "pc: invalid option\r\n\r\n"
    "Usage: pc del [source-mac SRC_MAC [source SRC_IP]] [network NW [netmask NM]]\r\n\r\n"
    "Examples:\r\n"
    "  pc del source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc del network 192.168.0.0 netmask 255.255.255.0\r\n";

constexpr const char kSaveUsage[] = "pc: invalid option\r\n\r\nUsage: pc save\r\n\r\nExamples:\r\n  pc save\r\n";
constexpr const char kLoadUsage[] = "pc: invalid option\r\n\r\nUsage: pc load\r\n\r\nExamples:\r\n  pc load\r\n";
constexpr const char kClearUsage[] = "pc: invalid option\r\n\r\nUsage: pc clear\r\n\r\nExamples:\r\n  pc clear\r\n";



// source comes first, so s, so, ... source all mean source; only source- and longer reach
// source-mac.
constexpr CommandOption<CPcData> kOptions[] = {
    {"source", [](CPcData& pc, const char* value) { return pc.SetSource(value); }},
    {"source-mac", [](CPcData& pc, const char* value) { return pc.SetMac(value); }},
    {"network", [](CPcData& pc, const char* value) { return pc.SetNetwork(value); }},
    {"netmask", [](CPcData& pc, const char* value) { return pc.SetNetmask(value); }},
};

// The shapes a stored record may take: a PC (MAC, perhaps with its address or a network)
// or a network; an address belongs to a PC, never to a network.
bool ReadNewRecord(int wordCount, char** words, CPcData& pc) {
  if (!ReadOptions<CPcData>(wordCount, words, 2, kOptions, pc)) return false;
  if (!pc.HasMac() && !pc.HasNetwork()) return false;
  if (pc.HasSource() && pc.HasNetwork()) return false;
  if (pc.HasNetwork() && !pc.HasNetmask()) {
    const char* netmask = DefaultNetmask(pc.network);
    if (netmask == nullptr) return false;
    if (!pc.SetNetmask(netmask)) return false;
  }
  return true;
}

std::int32_t Add(int socket, int wordCount, char** words) {
  if (wordCount < 4) return ReplyWith(socket, kAddUsage, 0);
  return AddRecord(socket, wordCount, words, GetPcDataList(), ReadNewRecord, kAddUsage, "I failed in making of CPcData.");
}

std::int32_t Del(int socket, int wordCount, char** words) {
  if (wordCount < 4) return ReplyWith(socket, kDelUsage, 0);
  // A key names what it gives: no default netmask, and any mix of values is allowed.
  CPcData key;
  if (!ReadOptions<CPcData>(wordCount, words, 2, kOptions, key) || (!key.HasMac() && !key.HasNetwork())) {
    return ReplyWith(socket, kDelUsage, 0);
  }
  GetPcDataList().MarkDeleted(key);
  return command_event::kDel;
}

std::int32_t Save(int socket, int wordCount, char** /*words*/) {
  return SaveRegistry(socket, wordCount, GetPcDataList(), CPcDataList::kFileName, kSaveUsage);
}

std::int32_t Load(int socket, int wordCount, char** /*words*/) {
  return LoadRegistry(socket, wordCount, GetPcDataList(), CPcDataList::kFileName, kLoadUsage);
}

std::int32_t Clear(int socket, int wordCount, char** /*words*/) {
  return ClearRegistry(socket, wordCount, GetPcDataList(), kClearUsage);
}

bool ShowLine(const CPcData& pc, std::string& out) {
  out += pc.HasMac() ? pc.macText : "\t\t";
  out += '\t';
  AppendColumn(out, pc.sourceText);
  AppendColumn(out, pc.networkText);
  out += pc.netmaskText;
  out += "\r\n";
  return true;
}

std::int32_t Show(int socket, int /*wordCount*/, char** /*words*/) {
  if (SendReply(socket, "ADDRESS\t\t\tDESTINATION\tNETWORK\t\tNETMASK\r\n") != 0) return -1;
  return SendListing(socket, GetPcDataList(), ShowLine);
}

constexpr SubCommand kSubCommands[] = {{"add", Add},     {"del", Del},     {"save", Save},
                                       {"load", Load},   {"clear", Clear}, {"show", Show}};

}  // namespace

std::int32_t PcCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, Show, kUsage);
}
