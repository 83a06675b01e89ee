#include "command/CommandWords.h"

#include <cstring>

bool IsWord(const char* word, const char* name) { return std::strcmp(word, name) == 0; }

bool IsLeadingPart(const char* word, const char* keyword) {
  return std::strncmp(word, keyword, std::strlen(word)) == 0;
}

bool SurvivesRegistryFile(const char* value) {
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(value); *c != 0; ++c) {
    if (*c == ',' || *c == '"' || *c < 0x20 || *c == 0x7F) return false;
  }
  return true;
}
