#pragma once

#include <cstddef>
#include <cstdint>

// Unsigned digit conversion from the start of a text. Reading stops after max characters
// or at the first character that is not a digit of the base (the terminating zero
// included). No sign, no overflow check: the value is accumulated in 64 bits and cut to
// the result width. A missing text gives 0. The one-argument forms read the whole text.

uint16_t ParseDecimal16(const char* text, std::size_t max);
uint32_t ParseDecimal32(const char* text, std::size_t max);
uint64_t ParseDecimal64(const char* text, std::size_t max);
uint16_t ParseDecimal16(const char* text);
uint32_t ParseDecimal32(const char* text);
uint64_t ParseDecimal64(const char* text);

// The whole-text decimal reading with an overflow check: false, *value untouched, when the
// leading digits are worth more than 32 bits hold (leading zeros cost nothing); else true
// with the value stored, 0 for a missing text or no digits.
[[nodiscard]] bool ParseDecimal32Checked(const char* text, uint32_t* value);

uint8_t ParseHex8(const char* text, std::size_t max);
uint16_t ParseHex16(const char* text, std::size_t max);
uint32_t ParseHex32(const char* text, std::size_t max);
uint64_t ParseHex64(const char* text, std::size_t max);
uint8_t ParseHex8(const char* text);
uint16_t ParseHex16(const char* text);
uint32_t ParseHex32(const char* text);
uint64_t ParseHex64(const char* text);

// Digit tests for the bytes of a text, ASCII only and safe for any char value.
inline bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
