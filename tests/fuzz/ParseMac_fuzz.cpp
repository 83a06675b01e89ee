#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/AddressParse.h"
#include "support/TextScan.h"

// An accepted text must print back as the same address, separators and case aside.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  uint8_t mac[6] = {};
  const int result = ParseMac(text.c_str(), mac);
  if (result == -1) return 0;
  const std::size_t length = std::strlen(text.c_str());
  if (result != 0 || (length != 12 && length != 17)) __builtin_trap();
  std::string printed = FormatMac(mac);
  if (length == 12) {
    std::erase(printed, ':');
  } else if (text[2] == '-') {
    std::replace(printed.begin(), printed.end(), ':', '-');
  }
  if (printed.size() != length || StrNCaseCmp(printed.c_str(), text.c_str(), length) != 0) __builtin_trap();
  uint8_t again[6] = {};
  if (ParseMac(FormatMac(mac).c_str(), again) != 0 || std::memcmp(mac, again, 6) != 0) __builtin_trap();
  return 0;
}
