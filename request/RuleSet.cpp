#include "request/RuleSet.h"

#include <functional>

std::uint64_t RuleLineHash(std::string_view line) {
  // The library's string hash, 8 bytes a step, then a final mix: equal lines must give
  // equal values within this process only, and sums of mixed values rarely collide.
  std::uint64_t hash = std::hash<std::string_view>{}(line);
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  return hash ^ (hash >> 33);
}

void RuleSet::Insert(std::string line) {
  const std::uint64_t hash = RuleLineHash(line);
  if (lines_.insert(std::move(line)).second) digest_ += hash;
}

void RuleSet::Erase(std::string_view line) {
  const auto it = lines_.find(line);
  if (it == lines_.end()) return;
  digest_ -= RuleLineHash(*it);
  lines_.erase(it);
}

void RuleSet::EraseStartingWith(std::string_view prefix) {
  for (auto it = lines_.lower_bound(prefix); it != lines_.end() && it->starts_with(prefix);) {
    digest_ -= RuleLineHash(*it);
    it = lines_.erase(it);
  }
}
