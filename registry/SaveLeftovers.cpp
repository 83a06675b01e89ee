#include "registry/SaveLeftovers.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

constexpr std::size_t kSuffixSize = 6;  // what mkstemp puts in place of XXXXXX

bool IsTemporarySuffix(std::string_view suffix) {
  if (suffix.size() != kSuffixSize + 1 || suffix.front() != '.') return false;
  for (char c : suffix.substr(1)) {
    const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alphanumeric) return false;
  }
  return true;
}

bool IsLeftover(std::string_view file, std::span<const char* const> names) {
  for (const char* name : names) {
    for (const std::string& base : {std::string(name), std::string(name) + ".bak"}) {
      if (file.size() > base.size() && file.substr(0, base.size()) == base &&
          IsTemporarySuffix(file.substr(base.size()))) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

int RemoveSaveLeftovers(const std::string& directory, std::span<const char* const> names) {
  int removed = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    std::error_code ignored;
    if (!entry.is_regular_file(ignored) || !IsLeftover(entry.path().filename().native(), names)) continue;
    if (std::filesystem::remove(entry.path(), ignored)) ++removed;
  }
  return removed;
}
