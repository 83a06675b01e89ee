#include "service/CommandLine.h"

#include <strings.h>

namespace {

bool SameWord(std::string_view word, std::string_view name) {
  return word.size() == name.size() && strncasecmp(word.data(), name.data(), name.size()) == 0;
}

}  // namespace

ServiceSwitch FindServiceSwitch(std::string_view commandLine) {
  bool service = false;
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    if (commandLine[i] != '-' && commandLine[i] != '/') continue;
    const std::size_t start = i + 1;
    std::size_t end = commandLine.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = commandLine.size();
    const std::string_view word = commandLine.substr(start, end - start);
    if (SameWord(word, "UnregServer")) return ServiceSwitch::kUnregServer;
    if (SameWord(word, "RegServer")) return ServiceSwitch::kRegServer;
    if (SameWord(word, "Service")) service = true;
  }
  return service ? ServiceSwitch::kService : ServiceSwitch::kNone;
}

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}
