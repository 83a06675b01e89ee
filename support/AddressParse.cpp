#include "support/AddressParse.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "support/DigitParse.h"
#include "support/TextScan.h"

namespace {

constexpr std::size_t kMacPlainLength = 12;
constexpr std::size_t kMacSeparatedLength = 17;

// Converts one octet of a dotted address: digits only, an empty part is 0. The true value
// must be at most 255, so long digit runs are refused instead of wrapping into range.
bool ParseOctet(const char* part, uint8_t* out) {
  unsigned value = 0;
  for (const char* p = part; *p != '\0'; ++p) {
    if (!IsDecimalDigit(*p)) return false;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 255) return false;
  }
  *out = static_cast<uint8_t>(value);
  return true;
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
    out[i] = ParseHex8(pair, 2);
  }
  return 0;
}

int ParseIPv4(const char* text, uint8_t out[4]) {
  if (text == nullptr || out == nullptr) return 0;
  // The parts are split off by writing zeros, so the caller's text is left alone.
  const std::size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
  if (!copy) return 0;
  std::memcpy(copy.get(), text, length + 1);

  for (std::size_t i = 0; i < length; ++i) {
    if (!IsDecimalDigit(copy[i]) && copy[i] != '.') return 0;
  }
  char* part = copy.get();
  for (std::size_t i = 0; i < 4; ++i) {
    char* rest = nullptr;
    if (i < 3) {
      rest = CutAtDelimiter(part, ".");
      if (rest == nullptr) return 0;
    }
    // The last part still holds any further dot, which ParseOctet refuses.
    if (!ParseOctet(part, &out[i])) return 0;
    part = rest;
  }
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

std::string FormatMac(const uint8_t bytes[6]) {
  if (bytes == nullptr) return std::string();
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                bytes[3], bytes[4], bytes[5]);
  return text;
}
