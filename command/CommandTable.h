#pragma once

#include <cstdint>

#include "command/CommandHandler.h"
#include "command/CommandId.h"

// One command word of the console. The id travels to the controller with a positive
// result.
struct CommandEntry {
  CommandId id;
  const char* word;
  CommandHandler handler;
};

// The command whose word equals word in full and in case, or none.
const CommandEntry* FindCommand(const char* word);

// A command beyond the console's own, added by a layer above the console (the controller
// adds its insight commands at start, before the console opens); looked up after the
// console's own, and not listed by help. Its handler changes no registry: it gives 0, or a
// negative result to end the session. The word must outlive the process's sessions.
void AddExtensionCommand(const char* word, CommandHandler handler);

// help and exit, the two commands that belong to the console itself.
std::int32_t HelpCommand(int socket, int wordCount, char** words);
std::int32_t ExitCommand(int socket, int wordCount, char** words);
