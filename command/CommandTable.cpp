#include "command/CommandTable.h"

#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/GwCommand.h"
#include "command/GwrouteCommand.h"
#include "command/NacCommand.h"
#include "command/PcCommand.h"
#include "command/QuarantineCommand.h"
#include "command/ServiceCommand.h"

namespace {

// Looked up in this order.
constexpr CommandEntry kCommands[] = {
    {1, "nac", NacCommand},      {2, "gw", GwCommand},
    {3, "gwroute", GwrouteCommand}, {4, "pc", PcCommand},
    {5, "quarantine", QuarantineCommand}, {6, "service", ServiceCommand},
    {7, "help", HelpCommand},    {8, "exit", ExitCommand},
};

}  // namespace

const CommandEntry* FindCommand(const char* word) {
  for (const CommandEntry& entry : kCommands) {
    if (IsWord(word, entry.word)) return &entry;
  }
  return nullptr;
}

std::int32_t HelpCommand(int socket, int /*wordCount*/, char** /*words*/) {
  return ReplyWith(socket,
                   "Usage: quarantine\r\n       pc\r\n       gw\r\n       gwroute\r\n       nac\r\n"
                   "       service\r\n",
                   0);
}

std::int32_t ExitCommand(int socket, int /*wordCount*/, char** /*words*/) {
  SendReply(socket, "good by\r\n");
  return -1;
}
