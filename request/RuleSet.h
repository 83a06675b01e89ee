#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

// The rules a gateway holds, as it keeps them: one set of lines ("pc accept ...",
// "nac drop ..."), each once, with a digest kept as lines come and go. Two sets with equal
// sizes and digests hold the same lines but for a 64-bit hash collision, so a status walk
// compares thousands of gateways without comparing their lines.
class RuleSet {
 public:
  using Lines = std::set<std::string, std::less<>>;

  void Insert(std::string line);
  void Erase(std::string_view line);
  // Every line that starts with prefix.
  void EraseStartingWith(std::string_view prefix);

  [[nodiscard]] bool Holds(std::string_view line) const { return lines_.find(line) != lines_.end(); }
  std::size_t Size() const { return lines_.size(); }
  const Lines& AllLines() const { return lines_; }
  // The sum of RuleLineHash over the lines: the same whatever order they came in.
  std::uint64_t Digest() const { return digest_; }

 private:
  Lines lines_;
  std::uint64_t digest_ = 0;
};

// One line's share of a digest.
std::uint64_t RuleLineHash(std::string_view line);
