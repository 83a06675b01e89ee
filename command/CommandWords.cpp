#include "command/CommandWords.h"

#include <cstring>

bool IsWord(const char* word, const char* name) { return std::strcmp(word, name) == 0; }

bool IsLeadingPart(const char* word, const char* keyword) {
  return std::strncmp(word, keyword, std::strlen(word)) == 0;
}
