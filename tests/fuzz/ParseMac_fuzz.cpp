#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/AddressParse.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// An independent reading: twelve hex digits, alone or in pairs behind one separator, ':' or
// '-', the same throughout.
bool Reference(const char* text, uint8_t out[6]) {
  const std::size_t length = std::strlen(text);
  if (length != 12 && length != 17) return false;
  const std::size_t step = length == 12 ? 2 : 3;
  if (step == 3 && text[2] != ':' && text[2] != '-') return false;
  for (std::size_t i = 0; i < 6; ++i) {
    const char* pair = text + step * i;
    if (!IsHex(pair[0]) || !IsHex(pair[1]) || (step == 3 && i < 5 && pair[2] != text[2])) return false;
    out[i] = static_cast<uint8_t>(std::strtoul(std::string(pair, 2).c_str(), nullptr, 16));
  }
  return true;
}

}  // namespace

// An accepted text must be what the reference accepts, with the same bytes, and print back
// as an address that parses to them again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  uint8_t mac[6] = {};
  const int result = ParseMac(text.c_str(), mac);
  uint8_t expected[6] = {};
  const bool valid = Reference(text.c_str(), expected);
  if ((result == 0) != valid || (result != 0 && result != -1)) __builtin_trap();
  if (!valid) return 0;
  if (std::memcmp(mac, expected, 6) != 0) __builtin_trap();
  const std::string formatted = FormatMac(mac);
  uint8_t again[6] = {};
  if (ParseMac(formatted.c_str(), again) != 0 || std::memcmp(mac, again, 6) != 0) __builtin_trap();
  // The text is the stored form exactly when it is what FormatMac writes.
  const std::string read(text.c_str());  // up to a NUL, as the parse reads it
  if (IsFormattedMac(read.c_str(), read.size(), mac) != (read == formatted)) __builtin_trap();
  if (!IsFormattedMac(formatted.c_str(), formatted.size(), mac)) __builtin_trap();
  return 0;
}
