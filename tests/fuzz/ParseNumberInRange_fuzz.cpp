#include <algorithm>
#include <cstdint>
#include <string>

#include "support/AddressParse.h"

namespace {

// An independent reading: a text of digits only whose value, behind any leading zeros, lies
// within bounds that are themselves valid (0 < minimum < maximum); else 0.
uint16_t Reference(const char* text, uint16_t minimum, uint16_t maximum) {
  if (*text == '\0' || minimum == 0 || maximum <= minimum) return 0;
  unsigned long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = std::min(value * 10 + static_cast<unsigned long>(*p - '0'), 100000ul);  // past any bound, no wrap
  }
  return value >= minimum && value <= maximum ? static_cast<uint16_t>(value) : 0;
}

void Check(const char* text, uint16_t minimum, uint16_t maximum) {
  if (ParseNumberInRange(text, minimum, maximum) != Reference(text, minimum, maximum)) __builtin_trap();
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
