#pragma once

#include <array>
#include <cstdint>
#include <string>

// The stored form of a MAC address is "00:11:22:AA:BB:CC", whatever case and separators
// the operator or a file used. When text parses, this fills bytes and rewrites text in
// that form and gives true; an empty text, or one that does not parse, leaves both text
// and bytes as they were and gives false. May throw std::bad_alloc while rewriting.
bool NormalizeMacText(std::string& text, std::uint8_t bytes[6]);

inline bool NormalizeMacText(std::string& text, std::array<std::uint8_t, 6>& bytes) {
  return NormalizeMacText(text, bytes.data());
}
