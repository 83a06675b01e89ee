#include "command/CommandWords.h"

#include <cstring>

bool IsWord(const char* word, const char* name) { return std::strcmp(word, name) == 0; }

bool IsLeadingPart(const char* word, const char* keyword) {
  return std::strncmp(word, keyword, std::strlen(word)) == 0;
}

int FindSubCommand(const char* word, std::span<const char* const> names, bool byLeadingPart) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (byLeadingPart ? IsLeadingPart(word, names[i]) : IsWord(word, names[i])) return static_cast<int>(i);
  }
  return -1;
}
