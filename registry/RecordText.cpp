#include "registry/RecordText.h"

#include <cstring>

#include "support/AddressParse.h"

bool SetAddressText(std::string& text, std::uint32_t& value, const char* input) {
  if (*input == '\0') {  // most columns of a registry file
    text.clear();
    value = 0;
    return true;
  }
  // The parse gives the length the copy needs.
  std::uint32_t parsed = 0;
  if (const std::size_t length = ParseIPv4Length(input, parsed); length != 0) {
    text.assign(input, length);
    value = parsed;
    return true;
  }
  text = input;
  value = 0;
  return false;
}

bool SetMacText(std::string& text, std::array<std::uint8_t, 6>& bytes, const char* input) {
  // Made to measure: an assignment past the inline room doubles it, and a stored MAC, at 17
  // characters just past it, would keep a block half as large again for good.
  const std::size_t length = std::strlen(input);
  if (length > text.capacity()) {
    std::string(input, length).swap(text);
  } else {
    text.assign(input, length);
  }
  bytes = {};
  if (length == 0) return true;
  // Parsed aside: a text that fails part way must not leave half an address behind.
  std::array<std::uint8_t, 6> parsed{};
  if (ParseMac(text.data(), length, parsed.data()) != 0) return false;
  bytes = parsed;
  return true;
}

bool NormalizeMacText(std::string& text, std::uint8_t bytes[6]) {
  if (text.empty()) return false;
  // Parsed aside here too, for the same reason.
  std::uint8_t parsed[6] = {};
  if (ParseMac(text.c_str(), parsed) != 0) return false;
  // A text already in that form (every line of a saved file) is kept as it is.
  if (!IsFormattedMac(text.data(), text.size(), parsed)) {
    char formatted[18];
    FormatMac(parsed, formatted);
    text = formatted;
  }
  std::memcpy(bytes, parsed, sizeof parsed);
  return true;
}
