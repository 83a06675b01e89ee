#include "command/CommandFamily.h"

#include "command/CommandWords.h"

std::int32_t RunFamily(int socket, int wordCount, char** words, std::span<const SubCommand> subCommands,
                       CommandHandler show, const char* usage, bool byLeadingPart) {
  if (wordCount < 2) return show(socket, wordCount, words);
  for (const SubCommand& subCommand : subCommands) {
    const bool named = byLeadingPart ? IsLeadingPart(words[1], subCommand.name) : IsWord(words[1], subCommand.name);
    if (named) return subCommand.handler(socket, wordCount, words);
  }
  return ReplyWith(socket, usage, 0);
}
