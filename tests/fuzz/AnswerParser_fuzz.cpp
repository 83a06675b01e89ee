// Any bytes as a gateway's answer, fed whole, a byte at a time and in pieces of sizes drawn
// from the bytes themselves: each piece is an exact-size copy, so the sanitizer sees a read
// past it. The parser never takes more than it is given, takes all of it until the answer
// ends, keeps no body over its bound or over what it took, and reads the same answer
// whatever the pieces.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "delivery/AnswerParser.h"

namespace {

struct Result {
  bool done = false;
  bool failed = false;
  AnswerParser::Failure failure = AnswerParser::Failure::kNone;
  int status = 0;
  std::string body;
  std::size_t taken = 0;
  std::uint32_t step = 0;
  bool operator==(const Result&) const = default;
};

void Require(bool ok) { ok ? void() : std::abort(); }

// Feeds the bytes in pieces of the sizes next() gives (at least 1).
template <class Next>
Result Run(const std::uint8_t* data, std::size_t size, Next next) {
  AnswerParser parser;
  Result r;
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = std::min(next(), size - at);
    const std::unique_ptr<char[]> copy(new char[piece]);
    std::memcpy(copy.get(), data + at, piece);
    const std::size_t took = parser.Feed(copy.get(), piece);
    Require(took <= piece);
    Require(took == piece || parser.Done() || parser.Failed());
    r.taken += took;
    at += piece;
  }
  r.done = parser.Done();
  r.failed = parser.Failed();
  r.failure = parser.failure();
  r.status = parser.Status();
  r.body = parser.Body();
  r.step = parser.Step();
  Require(!(r.done && r.failed));
  Require(r.failed == (r.failure != AnswerParser::Failure::kNone));
  Require((parser.ReceptionFailureText() == nullptr) == (r.done || r.failed));
  Require(r.taken <= size);
  Require(r.body.size() <= AnswerParser::kMaxBody && r.body.size() <= r.taken);
  // A status is read from after a space among the bytes taken.
  Require(!r.done || std::memchr(data, ' ', r.taken) != nullptr);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Result whole = Run(data, size, [size] { return size; });
  Require(Run(data, size, [] { return std::size_t{1}; }) == whole);
  // Piece sizes from 1 to 64 out of a generator seeded with a hash of the input.
  std::uint64_t state = 1469598103934665603u;
  for (std::size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 1099511628211u;
  Require(Run(data, size, [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return static_cast<std::size_t>(state % 64) + 1;
          }) == whole);
  return 0;
}
