#include "support/AddressParse.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "support/DigitParse.h"

namespace {

constexpr std::size_t kMacPlainLength = 12;
constexpr std::size_t kMacSeparatedLength = 17;
// Each byte's two upper-case hex digits.
constexpr auto kHexPairs = [] {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<std::array<char, 2>, 256> pairs{};
  for (unsigned byte = 0; byte < 256; ++byte) pairs[byte] = {kDigits[byte >> 4], kDigits[byte & 0x0F]};
  return pairs;
}();

// The value of each byte that IsHexDigit accepts, and kNotHex for every other: a registry
// load reads a MAC a line.
constexpr std::uint8_t kNotHex = 0xFF;
constexpr auto kHexValues = [] {
  std::array<std::uint8_t, 256> values{};
  for (unsigned c = 0; c < 256; ++c) {
    values[c] = c >= '0' && c <= '9'   ? static_cast<std::uint8_t>(c - '0')
                : c >= 'a' && c <= 'f' ? static_cast<std::uint8_t>(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? static_cast<std::uint8_t>(c - 'A' + 10)
                                       : kNotHex;
  }
  return values;
}();

unsigned HexValue(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

// ParseIPv4 to the end of the text: the position of its terminating zero, or none. One
// pass: a dot closes a part, and only three may; a part's value is checked as its digits
// come, so long runs are refused instead of wrapping into range.
const char* ScanIPv4(const char* text, uint8_t out[4]) {
  const char* p = text;
  for (std::size_t part = 0;; ++part) {
    unsigned value = 0;
    for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p) {
      value = value * 10 + digit;
      if (value > 255) return nullptr;
    }
    out[part] = static_cast<uint8_t>(value);
    if (part == 3) return *p == '\0' ? p : nullptr;
    if (*p != '.') return nullptr;
    ++p;
  }
}

}  // namespace

int ParseMac(const char* text, uint8_t out[6]) {
  if (text == nullptr || out == nullptr) return -1;
  // Bounded so a huge text is not walked to its end just to be refused.
  return ParseMac(text, strnlen(text, kMacSeparatedLength + 1), out);
}

// The digits' verdicts are gathered and decided on once.
int ParseMac(const char* text, std::size_t length, uint8_t out[6]) {
  if (text == nullptr || out == nullptr) return -1;
  if (length != kMacPlainLength && length != kMacSeparatedLength) return -1;
  const std::size_t step = length == kMacSeparatedLength ? 3 : 2;
  unsigned values = 0;  // every digit's value or'ed: above 0x0F when one is no hex digit
  uint8_t bytes[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const unsigned high = HexValue(text[step * i]);
    const unsigned low = HexValue(text[step * i + 1]);
    values |= high | low;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  if (values > 0x0F) return -1;
  if (step == 3) {
    const char separator = text[2];
    if (separator != ':' && separator != '-') return -1;
    if (((text[5] ^ separator) | (text[8] ^ separator) | (text[11] ^ separator) | (text[14] ^ separator)) != 0) {
      return -1;
    }
  }
  std::memcpy(out, bytes, sizeof bytes);
  return 0;
}

bool IsFormattedMac(const char* text, std::size_t length, const uint8_t bytes[6]) {
  if (length != kMacSeparatedLength) return false;
  for (std::size_t i = 0; i < 6; ++i) {
    if (std::memcmp(text + 3 * i, kHexPairs[bytes[i]].data(), 2) != 0) return false;
  }
  return text[2] == ':' && text[5] == ':' && text[8] == ':' && text[11] == ':' && text[14] == ':';
}

int ParseIPv4(const char* text, uint8_t out[4]) {
  if (text == nullptr || out == nullptr) return 0;
  return ScanIPv4(text, out) != nullptr ? 1 : 0;
}

bool ParseIPv4Value(const char* text, uint32_t& value) { return ParseIPv4Length(text, value) != 0; }

std::size_t ParseIPv4Length(const char* text, uint32_t& value) {
  if (text == nullptr) return 0;
  uint8_t bytes[4];
  const char* end = ScanIPv4(text, bytes);
  if (end == nullptr) return 0;
  std::memcpy(&value, bytes, sizeof value);
  return static_cast<std::size_t>(end - text);
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
  // Spelled out: snprintf costs ten times as much.
  for (std::size_t i = 0; i < 6; ++i) {
    text[3 * i] = kHexPairs[bytes[i]][0];
    text[3 * i + 1] = kHexPairs[bytes[i]][1];
    text[3 * i + 2] = i < 5 ? ':' : '\0';
  }
}

std::string FormatMac(const uint8_t bytes[6]) {
  if (bytes == nullptr) return std::string();
  char text[18];
  FormatMac(bytes, text);
  return text;
}
