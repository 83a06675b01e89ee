#pragma once

#include <cstdint>

// A command handler: the session's socket, the number of words and the words themselves
// (word 0 is the command word, a null follows the last). Replies go straight to the socket.
// The result: negative ends the session, 0 is nothing more, positive is an event code that
// the controller receives with the command's id.
using CommandHandler = std::int32_t (*)(int socket, int wordCount, char** words);

// The socket of a command that runs without an operator (the controller's start-up loads):
// every reply goes nowhere.
inline constexpr int kNoConnection = -1;
