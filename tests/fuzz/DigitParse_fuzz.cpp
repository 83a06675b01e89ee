#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/DigitParse.h"

// The first byte is the character limit; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t max = data[0] == 0xFF ? SIZE_MAX : data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* t = text.c_str();
  const auto require = [](bool ok) { ok ? void() : __builtin_trap(); };

  // Narrower widths are the wider value cut; no limit is SIZE_MAX.
  const uint64_t decimal = ParseDecimal64(t, max), hex = ParseHex64(t, max);
  require(ParseDecimal32(t, max) == static_cast<uint32_t>(decimal));
  require(ParseDecimal16(t, max) == static_cast<uint16_t>(decimal));
  require(ParseDecimal64(t) == ParseDecimal64(t, SIZE_MAX));
  require(ParseHex32(t, max) == static_cast<uint32_t>(hex));
  require(ParseHex16(t, max) == static_cast<uint16_t>(hex));
  require(ParseHex8(t, max) == static_cast<uint8_t>(hex));
  require(ParseHex32(t) == ParseHex32(t, SIZE_MAX));

  // Reference: the leading digit run within max, taken modulo 2^32; runs short enough not
  // to wrap must agree with the C library.
  std::size_t digits = 0, hexDigits = 0;
  while (digits < max && IsDecimalDigit(t[digits])) ++digits;
  while (hexDigits < max && IsHexDigit(t[hexDigits])) ++hexDigits;
  uint32_t reference = 0;
  for (std::size_t i = 0; i < digits; ++i) reference = reference * 10u + static_cast<uint32_t>(t[i] - '0');
  require(ParseDecimal32(t, max) == reference);
  require(digits > 19 || decimal == std::strtoull(std::string(t, digits).c_str(), nullptr, 10));
  require(hexDigits > 16 || hex == std::strtoull(std::string(t, hexDigits).c_str(), nullptr, 16));
  return 0;
}
