#pragma once

#include <array>
#include <cstdint>
#include <string>

// The text fields of the records: each keeps the text as given next to the value parsed
// from it.

// Stores input in text and, when it is a dotted address, its value (the bytes in memory
// order) in value; an empty text is valid and gives zero, an invalid one leaves the value
// zero and gives false. The input is parsed before the text changes, so an input taken
// from the record itself is safe. May throw std::bad_alloc while storing.
[[nodiscard]] bool SetAddressText(std::string& text, std::uint32_t& value, const char* input);

// The same for a MAC address: all-zero bytes when the text is empty or does not parse.
[[nodiscard]] bool SetMacText(std::string& text, std::array<std::uint8_t, 6>& bytes, const char* input);

// The stored form of a MAC address is "00:11:22:AA:BB:CC", whatever case and separators
// the operator or a file used. When text parses, this fills bytes and rewrites text in
// that form and gives true; an empty text, or one that does not parse, leaves both text
// and bytes as they were and gives false. May throw std::bad_alloc while rewriting.
[[nodiscard]] bool NormalizeMacText(std::string& text, std::uint8_t bytes[6]);

[[nodiscard]] inline bool NormalizeMacText(std::string& text, std::array<std::uint8_t, 6>& bytes) {
  return NormalizeMacText(text, bytes.data());
}
