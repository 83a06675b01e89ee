#pragma once

#include <cstdint>

#include "command/CommandHandler.h"

// One command word of the console. The id travels to the controller with a positive
// result.
struct CommandEntry {
  std::uint32_t id;
  const char* word;
  CommandHandler handler;
};

// The command whose word equals word in full and in case, or none.
const CommandEntry* FindCommand(const char* word);

// help and exit, the two commands that belong to the console itself.
std::int32_t HelpCommand(int socket, int wordCount, char** words);
std::int32_t ExitCommand(int socket, int wordCount, char** words);
