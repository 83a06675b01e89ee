#include "support/AddressParse.h"

#include <cstdio>
#include <cstring>

#include "support/DigitParse.h"

namespace {

constexpr std::size_t kMacPlainLength = 12;
constexpr std::size_t kMacSeparatedLength = 17;

// The value of a character that IsHexDigit accepts.
unsigned HexDigitValue(char c) {
  if (IsDecimalDigit(c)) return static_cast<unsigned>(c - '0');
  return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

}  // namespace

int ParseMac(const char* text, uint8_t out[6]) {
  if (text == nullptr || out == nullptr) return -1;
  // Bounded so a huge text is not walked to its end just to be refused.
  const std::size_t length = strnlen(text, kMacSeparatedLength + 1);
  if (length != kMacPlainLength && length != kMacSeparatedLength) return -1;
  const bool separated = length == kMacSeparatedLength;
  if (separated) {
    const char separator = text[2];
    if (separator != ':' && separator != '-') return -1;
    for (std::size_t position = 5; position < length; position += 3) {
      if (text[position] != separator) return -1;
    }
  }
  for (std::size_t i = 0; i < 6; ++i) {
    const char* pair = text + (separated ? 3 * i : 2 * i);
    if (!IsHexDigit(pair[0]) || !IsHexDigit(pair[1])) return -1;
    out[i] = static_cast<uint8_t>(HexDigitValue(pair[0]) << 4 | HexDigitValue(pair[1]));
  }
  return 0;
}

int ParseIPv4(const char* text, uint8_t out[4]) {
  if (text == nullptr || out == nullptr) return 0;
  // One pass: a dot closes a part, and only three may; a part's value is checked as its
  // digits come, so long runs are refused instead of wrapping into range.
  unsigned value = 0;
  std::size_t part = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (IsDecimalDigit(*p)) {
      value = value * 10 + static_cast<unsigned>(*p - '0');
      if (value > 255) return 0;
    } else if (*p == '.' && part < 3) {
      out[part++] = static_cast<uint8_t>(value);
      value = 0;
    } else {
      return 0;
    }
  }
  if (part != 3) return 0;
  out[3] = static_cast<uint8_t>(value);
  return 1;
}

bool ParseIPv4Value(const char* text, uint32_t& value) {
  uint8_t bytes[4];
  if (ParseIPv4(text, bytes) != 1) return false;
  std::memcpy(&value, bytes, sizeof value);
  return true;
}

uint16_t ParseNumberInRange(const char* text, uint16_t minimum, uint16_t maximum) {
  if (text == nullptr || *text == '\0') return 0;
  std::size_t significant = 0;
  bool leading = true;
  for (const char* p = text; *p != '\0'; ++p) {
    if (!IsDecimalDigit(*p)) return 0;
    if (leading && *p == '0') continue;
    leading = false;
    ++significant;
  }
  if (maximum <= minimum || minimum == 0) return 0;
  // More than five significant digits exceed 65535 even where the conversion would wrap.
  if (significant > 5) return 0;
  const uint32_t value = ParseDecimal32(text);
  if (value > 65535 || value < minimum || value > maximum) return 0;
  return static_cast<uint16_t>(value);
}

int MaskToPrefix(const char* text) {
  uint8_t bytes[4];
  if (ParseIPv4(text, bytes) != 1) return -1;
  const uint32_t mask = (static_cast<uint32_t>(bytes[0]) << 24) |
                        (static_cast<uint32_t>(bytes[1]) << 16) |
                        (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
  int zeros = 0;
  while (zeros < 32 && (mask & (uint32_t{1} << zeros)) == 0) ++zeros;
  int ones = 0;
  while (zeros + ones < 32 && (mask & (uint32_t{1} << (zeros + ones))) != 0) ++ones;
  return zeros + ones == 32 ? 32 - zeros : -1;
}

std::string FormatIPv4(const uint8_t bytes[4]) {
  if (bytes == nullptr) return std::string();
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

std::string FormatIPv4(uint32_t networkOrder) {
  uint8_t bytes[4];
  std::memcpy(bytes, &networkOrder, sizeof bytes);
  return FormatIPv4(bytes);
}

void FormatMac(const uint8_t bytes[6], char (&text)[18]) {
  // Spelled out: a registry load formats one per PC, and snprintf costs ten times as much.
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < 6; ++i) {
    text[3 * i] = kHex[bytes[i] >> 4];
    text[3 * i + 1] = kHex[bytes[i] & 0x0f];
    text[3 * i + 2] = i < 5 ? ':' : '\0';
  }
}

std::string FormatMac(const uint8_t bytes[6]) {
  if (bytes == nullptr) return std::string();
  char text[18];
  FormatMac(bytes, text);
  return text;
}
