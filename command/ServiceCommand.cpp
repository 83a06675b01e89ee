#include "command/ServiceCommand.h"

#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/ServiceData.h"
#include "support/AddressParse.h"

namespace {

constexpr char kUsage[] =
    "service: invalid option\r\n\r\n"
    "Usage: service OPERATION [sport SRC_PORT]\r\n\r\n"
    "Examples:\r\n"
    "  service set sport 8000\r\n"
    "  service save\r\n"
    "  service load\r\n"
    "  service show\r\n\r\n"
    "OPERATION:         (set/save/load/show)\r\n"
    "SRC_PORT:          Port number of Service\r\n";
constexpr char kSetUsage[] =
    "service: invalid option\r\n\r\nUsage: service set sport SRC_PORT\r\n\r\n"
    "Examples:\r\n  service set sport 8000\r\n";
constexpr char kSaveUsage[] =
    "service: invalid option\r\n\r\nUsage: service save\r\n\r\nExamples:\r\n  service save\r\n";
constexpr char kLoadUsage[] =
    "service: invalid option\r\n\r\nUsage: service load\r\n\r\nExamples:\r\n  service load\r\n";
constexpr char kClearUsage[] =
    "service: invalid option\r\n\r\nUsage: service clear\r\n\r\nExamples:\r\n  service clear\r\n";
// Kept with the listing although only the word service alone reaches it.
[[maybe_unused]] constexpr char kShowUsage[] =
    "service: invalid option\r\n\r\nUsage: service show\r\n\r\nExamples:\r\n  service show\r\n";

bool ApplyPort(CServiceData& settings, const char* value) {
  settings.portText = value;
  settings.port = ParseNumberInRange(value, 1, 65535);
  return settings.port != 0;
}

constexpr CommandOption<CServiceData> kOptions[] = {{"sport", ApplyPort}};

std::int32_t ServiceSet(int socket, int wordCount, char** words) {
  if (wordCount < 4) return ReplyWith(socket, kSetUsage, 0);
  CServiceData settings;
  // Empty words are not passed over here: one is read as sport.
  if (!ReadOptions<CServiceData>(wordCount, words, 2, kOptions, settings, false) || settings.portText.empty()) {
    return ReplyWith(socket, kSetUsage, 0);
  }
  // The running command server keeps its port until the next start.
  SetServiceData(settings);
  return command_event::kAdd;
}

std::int32_t ServiceSave(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kSaveUsage, 0);
  if (!SaveServiceData()) return ReplyWith(socket, "save error\r\n", 0);
  return 0;
}

std::int32_t ServiceLoadCommand(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kLoadUsage, 0);
  // An invalid text stays stored, so that the next start of the command server fails on it.
  if (!LoadServiceData()) return ReplyWith(socket, "load error\r\n", 0);
  return command_event::kLoad;
}

std::int32_t ServiceClear(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kClearUsage, 0);
  SetServiceData(CServiceData{});
  return command_event::kClear;
}

std::int32_t ServiceShow(int socket, int /*wordCount*/, char** /*words*/) {
  const CServiceData settings = GetServiceData();
  if (SendReply(socket, "PORT\r\n") != 0) return -1;
  if (!settings.portText.empty() && SendReply(socket, settings.portText + "\r\n") != 0) return -1;
  return 0;
}

// No show entry: the port is shown by the word service alone.
constexpr SubCommand kSubCommands[] = {
    {"set", ServiceSet}, {"save", ServiceSave}, {"load", ServiceLoadCommand}, {"clear", ServiceClear}};

}  // namespace

std::int32_t ServiceCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, ServiceShow, kUsage);
}
