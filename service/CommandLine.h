#pragma once

#include <string>
#include <string_view>

// The registration switch of a command line: the word after any "-" or "/", up to the
// next blank or tab, compared without regard to case. "UnregServer" and "RegServer" win in
// the order they stand; "Service" counts only when neither is there.
enum class ServiceSwitch { kNone, kUnregServer, kRegServer, kService };

ServiceSwitch FindServiceSwitch(std::string_view commandLine);

// The command line as one text: the arguments after the program name, joined by blanks.
std::string JoinArguments(int argc, char** argv);
