#include "command/CommandTable.h"

#include <array>
#include <cstddef>

#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/GwCommand.h"
#include "command/GwrouteCommand.h"
#include "command/NacCommand.h"
#include "command/PcCommand.h"
#include "command/QuarantineCommand.h"
#include "command/ServiceCommand.h"
#include "platform/Mutex.h"

namespace {

// Looked up in this order.
constexpr CommandEntry kCommands[] = {
    {CommandId::kNac, "nac", NacCommand},
    {CommandId::kGw, "gw", GwCommand},
    {CommandId::kGwroute, "gwroute", GwrouteCommand},
    {CommandId::kPc, "pc", PcCommand},
    {CommandId::kQuarantine, "quarantine", QuarantineCommand},
    {CommandId::kService, "service", ServiceCommand},
    {CommandId::kHelp, "help", HelpCommand},
    {CommandId::kExit, "exit", ExitCommand},
};

constexpr std::size_t kMaxExtensions = 8;

struct Extensions {
  platform::Mutex mutex;
  std::array<CommandEntry, kMaxExtensions> entries VELNOR_GUARDED_BY(mutex){};
  std::size_t count VELNOR_GUARDED_BY(mutex) = 0;
};

Extensions& GetExtensions() {
  static Extensions extensions;
  return extensions;
}

}  // namespace

const CommandEntry* FindCommand(const char* word) {
  for (const CommandEntry& entry : kCommands) {
    if (IsWord(word, entry.word)) return &entry;
  }
  Extensions& extensions = GetExtensions();
  platform::MutexLock lock(extensions.mutex);
  for (std::size_t i = 0; i < extensions.count; ++i) {
    if (IsWord(word, extensions.entries[i].word)) return &extensions.entries[i];
  }
  return nullptr;
}

void AddExtensionCommand(const char* word, CommandHandler handler) {
  Extensions& extensions = GetExtensions();
  platform::MutexLock lock(extensions.mutex);
  for (std::size_t i = 0; i < extensions.count; ++i) {
    if (IsWord(word, extensions.entries[i].word)) {
      extensions.entries[i].handler = handler;
      return;
    }
  }
  if (extensions.count == kMaxExtensions) return;
  // Their handlers never give a positive result, so nothing is posted with these ids.
  const auto id = static_cast<CommandId>(static_cast<std::uint32_t>(CommandId::kFirstExtension) + extensions.count);
  extensions.entries[extensions.count] = {id, word, handler};
  ++extensions.count;
}

std::int32_t HelpCommand(int socket, int /*wordCount*/, char** /*words*/) {
  return ReplyWith(socket,
                   "Usage: quarantine\r\n       pc\r\n       gw\r\n       gwroute\r\n       nac\r\n"
                   "       service\r\n",
                   0);
}

std::int32_t ExitCommand(int socket, int /*wordCount*/, char** /*words*/) {
  // The session ends either way; a send that failed is logged where it failed.
  (void)SendReply(socket, "good by\r\n");
  return -1;
}
