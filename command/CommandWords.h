#pragma once

#include <cstdint>
#include <span>

// How operator words are matched. Command and sub-command words must be equal in full and
// in case; option keywords and keyword values accept any leading part of themselves, so an
// empty word is a leading part of every keyword.

bool IsWord(const char* word, const char* name);
bool IsLeadingPart(const char* word, const char* keyword);

// Whether a free-text value (a user id, a password, a device name) comes back from a
// registry file as it went in. The files escape nothing: a comma or a double quote would
// split or cut the column, a control byte the line. Such values are refused where they
// are entered, so that what an operator is told was stored is what the next load gives.
bool SurvivesRegistryFile(const char* value);

// The rule for one option of a family: its keyword and what its value does to the record
// being filled; apply gives false for an invalid value.
template <class Target>
struct CommandOption {
  const char* keyword;
  bool (*apply)(Target& target, const char* value);
};

// Reads "keyword value" pairs from word first on into target, keywords tried in table
// order. Any other word, a keyword without a value or an invalid value is an error; the
// reading goes on after an error, so that every valid value is applied. Empty words are
// passed over when skipEmpty is set (otherwise they select the first keyword). True when
// there was no error.
template <class Target>
[[nodiscard]] bool ReadOptions(int wordCount, char** words, int first, std::span<const CommandOption<Target>> options,
                               Target& target, bool skipEmpty = true) {
  bool valid = true;
  int index = first;
  while (index < wordCount) {
    const char* word = words[index];
    if (skipEmpty && word[0] == '\0') {
      ++index;
      continue;
    }
    const CommandOption<Target>* option = nullptr;
    for (const CommandOption<Target>& candidate : options) {
      if (IsLeadingPart(word, candidate.keyword)) {
        option = &candidate;
        break;
      }
    }
    if (option == nullptr) {
      valid = false;
      ++index;
      continue;
    }
    if (index + 1 >= wordCount) return false;
    if (!option->apply(target, words[index + 1])) valid = false;
    index += 2;
  }
  return valid;
}
