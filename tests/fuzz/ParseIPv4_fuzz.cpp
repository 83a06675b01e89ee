#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/AddressParse.h"

namespace {

// An independent reading: four dot-separated runs of digits (empty is 0), each at most
// 255 in value however many leading zeros it has.
bool Reference(const char* text, uint8_t out[4]) {
  unsigned parts[4] = {};
  int part = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '.') {
      if (++part > 3) return false;
    } else if (*p >= '0' && *p <= '9') {
      parts[part] = parts[part] * 10 + static_cast<unsigned>(*p - '0');
      if (parts[part] > 255) return false;
    } else {
      return false;
    }
  }
  if (part != 3) return false;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(parts[i]);
  return true;
}

void Check(const std::string& original) {
  std::string text = original;
  uint8_t ip[4] = {};
  const int result = ParseIPv4(text.c_str(), ip);
  if (text != original || (result != 0 && result != 1)) __builtin_trap();  // the caller's text stays whole

  uint8_t expected[4] = {};
  const bool valid = Reference(text.c_str(), expected);
  if (valid != (result == 1) || (valid && std::memcmp(ip, expected, 4) != 0)) __builtin_trap();
  // The value form gives the same bytes and the text's length, and leaves a refused value be.
  uint32_t value = 0xA5A5A5A5;
  const std::size_t length = ParseIPv4Length(text.c_str(), value);
  if (length != (valid ? std::strlen(text.c_str()) : 0)) __builtin_trap();
  if (valid ? std::memcmp(&value, expected, 4) != 0 : value != 0xA5A5A5A5) __builtin_trap();
  if (!valid) return;

  uint8_t again[4] = {};
  if (ParseIPv4(FormatIPv4(ip).c_str(), again) != 1 || std::memcmp(ip, again, 4) != 0) __builtin_trap();
}

}  // namespace

// The raw input, and a dotted quad built from it: four numbers up to 1023 with up to three
// leading zeros each, so the octet bounds are reached without waiting for random digits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(std::string(reinterpret_cast<const char*>(data), size));
  if (size < 8) return 0;
  char text[64];
  int length = 0;
  for (int i = 0; i < 4; ++i) {
    const unsigned word = static_cast<unsigned>(data[2 * i] | (data[2 * i + 1] << 8));
    length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), i == 0 ? "%0*u" : ".%0*u",
                            static_cast<int>(word >> 12 & 3) + 1, word & 0x3FF);
  }
  Check(text);
  return 0;
}
