#include "registry/RecordText.h"

#include <cstring>

#include "support/AddressParse.h"

bool SetAddressText(std::string& text, std::uint32_t& value, const char* input) {
  text = input;
  value = 0;
  return text.empty() || ParseIPv4Value(text.c_str(), value);
}

bool SetMacText(std::string& text, std::array<std::uint8_t, 6>& bytes, const char* input) {
  text = input;
  bytes = {};
  if (text.empty()) return true;
  // Parsed aside: a text that fails part way must not leave half an address behind.
  std::array<std::uint8_t, 6> parsed{};
  if (ParseMac(text.c_str(), parsed.data()) != 0) return false;
  bytes = parsed;
  return true;
}

bool NormalizeMacText(std::string& text, std::uint8_t bytes[6]) {
  if (text.empty()) return false;
  // Parsed aside here too, for the same reason.
  std::uint8_t parsed[6] = {};
  if (ParseMac(text.c_str(), parsed) != 0) return false;
  text = FormatMac(parsed);
  std::memcpy(bytes, parsed, sizeof parsed);
  return true;
}
