#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/TextScan.h"

namespace {

bool InSet(char c, const char* set) { return c != '\0' && set != nullptr && std::strchr(set, c) != nullptr; }

// An independent splitting: a field starts past the skip characters, ends before the first
// delimiter and loses its trailing skip characters; none is left once nothing but skip
// characters (or, without a skip set, nothing at all) remains.
std::vector<std::string> Reference(const std::string& line, const char* skip, const char* delimiters) {
  const std::string text = line.substr(0, line.find('\0'));
  std::vector<std::string> fields;
  for (std::size_t at = 0;;) {
    while (at < text.size() && InSet(text[at], skip)) ++at;
    if (at >= text.size()) return fields;
    std::size_t end = at;
    while (end < text.size() && !InSet(text[end], delimiters)) ++end;
    std::size_t last = end;
    while (last > at && InSet(text[last - 1], skip)) --last;
    fields.push_back(text.substr(at, last - at));
    at = end + 1;
  }
}

// Splits a copy of line until none, checking every token lies inside the buffer and that
// the cursor advances, and that the tokens are the reference's.
void Split(const std::string& line, const char* skip, const char* delimiters) {
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  char* const end = buffer.data() + buffer.size();
  char* token = nullptr;
  std::vector<std::string> tokens;
  for (char *cursor = buffer.data(), *next; (next = NextToken(cursor, skip, delimiters, &token)) != nullptr;
       cursor = next) {
    if (next <= cursor || next >= end || token < cursor || token >= next) __builtin_trap();
    if (token + std::strlen(token) >= end) __builtin_trap();
    tokens.emplace_back(token);
  }
  if (tokens != Reference(line, skip, delimiters)) __builtin_trap();
}

// NextCsvToken must split as NextToken does with the CSV sets and write the same bytes.
void CompareCsv(const std::string& line) {
  std::vector<char> general(line.begin(), line.end());
  general.push_back('\0');
  std::vector<char> csv = general;
  char* generalCursor = general.data();
  char* csvCursor = csv.data();
  for (;;) {
    char* generalToken = nullptr;
    char* csvToken = nullptr;
    generalCursor = NextToken(generalCursor, kCsvSkipSet, kCsvDelimiterSet, &generalToken);
    csvCursor = NextCsvToken(csvCursor, &csvToken);
    if ((generalCursor == nullptr) != (csvCursor == nullptr)) __builtin_trap();
    if (generalCursor == nullptr) break;
    if (generalCursor - general.data() != csvCursor - csv.data() ||
        generalToken - general.data() != csvToken - csv.data()) {
      __builtin_trap();
    }
  }
  if (general != csv) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Split(input, kCsvSkipSet, kCsvDelimiterSet);
  CompareCsv(input);

  // The first two bytes cut the rest into a skip set, a delimiter set and the line; an
  // empty skip part also tries the form without a skip set.
  if (size < 2) return 0;
  const std::string rest = input.substr(2);
  const std::size_t skipLength = data[0] % (rest.size() + 1);
  const std::size_t delimiterLength = data[1] % (rest.size() - skipLength + 1);
  const std::string skip = rest.substr(0, skipLength), delimiters = rest.substr(skipLength, delimiterLength);
  Split(rest.substr(skipLength + delimiterLength), skip.empty() ? nullptr : skip.c_str(), delimiters.c_str());
  return 0;
}
