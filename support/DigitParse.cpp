#include "support/DigitParse.h"

#include <cstdint>

namespace {

// The whole text: stopping at the terminator is the same as taking its length as max.
constexpr std::size_t kWholeText = SIZE_MAX;

uint64_t AccumulateDecimal(const char* text, std::size_t max) {
  uint64_t value = 0;
  if (text == nullptr) return 0;
  for (std::size_t i = 0; i < max && IsDecimalDigit(text[i]); ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return value;
}

uint64_t HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint64_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint64_t>(c - 'a' + 10);
  return static_cast<uint64_t>(c - 'A' + 10);
}

uint64_t AccumulateHex(const char* text, std::size_t max) {
  uint64_t value = 0;
  if (text == nullptr) return 0;
  for (std::size_t i = 0; i < max && IsHexDigit(text[i]); ++i) {
    value = value * 16 + HexValue(text[i]);
  }
  return value;
}

}  // namespace

uint16_t ParseDecimal16(const char* text, std::size_t max) {
  return static_cast<uint16_t>(AccumulateDecimal(text, max));
}
uint32_t ParseDecimal32(const char* text, std::size_t max) {
  return static_cast<uint32_t>(AccumulateDecimal(text, max));
}
uint64_t ParseDecimal64(const char* text, std::size_t max) { return AccumulateDecimal(text, max); }
bool ParseDecimal32Checked(const char* text, uint32_t* value) {
  uint32_t result = 0;
  for (const char* at = text; at != nullptr && IsDecimalDigit(*at); ++at) {
    const auto digit = static_cast<uint32_t>(*at - '0');
    if (result > (UINT32_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}
uint16_t ParseDecimal16(const char* text) { return ParseDecimal16(text, kWholeText); }
uint32_t ParseDecimal32(const char* text) { return ParseDecimal32(text, kWholeText); }
uint64_t ParseDecimal64(const char* text) { return ParseDecimal64(text, kWholeText); }

uint8_t ParseHex8(const char* text, std::size_t max) {
  return static_cast<uint8_t>(AccumulateHex(text, max));
}
uint16_t ParseHex16(const char* text, std::size_t max) {
  return static_cast<uint16_t>(AccumulateHex(text, max));
}
uint32_t ParseHex32(const char* text, std::size_t max) {
  return static_cast<uint32_t>(AccumulateHex(text, max));
}
uint64_t ParseHex64(const char* text, std::size_t max) { return AccumulateHex(text, max); }
uint8_t ParseHex8(const char* text) { return ParseHex8(text, kWholeText); }
uint16_t ParseHex16(const char* text) { return ParseHex16(text, kWholeText); }
uint32_t ParseHex32(const char* text) { return ParseHex32(text, kWholeText); }
uint64_t ParseHex64(const char* text) { return ParseHex64(text, kWholeText); }
