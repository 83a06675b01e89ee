#include "registry/MacText.h"

#include <cstring>

#include "support/AddressParse.h"

bool NormalizeMacText(std::string& text, std::uint8_t bytes[6]) {
  if (text.empty()) return false;
  // Parsed aside: a text that fails part way must not leave half an address behind.
  std::uint8_t parsed[6] = {};
  if (ParseMac(text.c_str(), parsed) != 0) return false;
  text = FormatMac(parsed);
  std::memcpy(bytes, parsed, sizeof parsed);
  return true;
}
