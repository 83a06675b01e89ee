#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/AddressParse.h"

namespace {

void Check(const char* text, uint16_t minimum, uint16_t maximum) {
  const uint16_t value = ParseNumberInRange(text, minimum, maximum);
  if (value == 0) return;
  if (minimum == 0 || maximum <= minimum || value < minimum || value > maximum) __builtin_trap();
  // Accepted texts are the number itself behind optional leading zeros.
  const char* digits = text;
  while (*digits == '0') ++digits;
  char printed[8];
  std::snprintf(printed, sizeof printed, "%u", static_cast<unsigned>(value));
  if (std::strcmp(digits, printed) != 0) __builtin_trap();
}

}  // namespace

// The first four bytes choose the bounds for a second check; the callers' bounds are
// always tried on the whole input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string whole(reinterpret_cast<const char*>(data), size);
  Check(whole.c_str(), 1, 65535);
  if (size >= 4) {
    const uint16_t minimum = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint16_t maximum = static_cast<uint16_t>(data[2] | (data[3] << 8));
    const std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
    Check(rest.c_str(), minimum, maximum);
  }
  return 0;
}
