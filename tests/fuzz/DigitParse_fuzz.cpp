#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/DigitParse.h"

namespace {

// Length of the leading run of digits within max characters.
std::size_t RunLength(const char* text, std::size_t max, bool hex) {
  std::size_t n = 0;
  while (n < max && (hex ? IsHexDigit(text[n]) : IsDecimalDigit(text[n]))) ++n;
  return n;
}

}  // namespace

// The first byte is the character limit; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t max = data[0] == 0xFF ? SIZE_MAX : data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* t = text.c_str();

  const uint64_t decimal = ParseDecimal64(t, max);
  if (ParseDecimal32(t, max) != static_cast<uint32_t>(decimal)) __builtin_trap();
  if (ParseDecimal16(t, max) != static_cast<uint16_t>(decimal)) __builtin_trap();
  if (ParseDecimal64(t) != ParseDecimal64(t, SIZE_MAX)) __builtin_trap();

  const uint64_t hex = ParseHex64(t, max);
  if (ParseHex32(t, max) != static_cast<uint32_t>(hex)) __builtin_trap();
  if (ParseHex16(t, max) != static_cast<uint16_t>(hex)) __builtin_trap();
  if (ParseHex8(t, max) != static_cast<uint8_t>(hex)) __builtin_trap();
  if (ParseHex32(t) != ParseHex32(t, SIZE_MAX)) __builtin_trap();

  // Reference: the 32-bit value is the leading digit run taken modulo 2^32.
  const std::size_t digits = RunLength(t, max, false);
  uint32_t reference = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    reference = reference * 10u + static_cast<uint32_t>(t[i] - '0');
  }
  if (ParseDecimal32(t, max) != reference) __builtin_trap();

  // Runs short enough not to wrap must agree with the C library.
  if (digits <= 19 && decimal != std::strtoull(std::string(t, digits).c_str(), nullptr, 10)) {
    __builtin_trap();
  }
  const std::size_t hexDigits = RunLength(t, max, true);
  if (hexDigits <= 16 && hex != std::strtoull(std::string(t, hexDigits).c_str(), nullptr, 16)) {
    __builtin_trap();
  }
  return 0;
}
