#include <cstdint>
#include <string>

#include "support/AddressParse.h"

namespace {

void Check(const std::string& text) {
  uint8_t ip[4];
  // The callers only ever pass masks that already parsed as addresses.
  if (ParseIPv4(text.c_str(), ip) != 1) return;
  const uint32_t mask = (uint32_t{ip[0]} << 24) | (uint32_t{ip[1]} << 16) | (uint32_t{ip[2]} << 8) | uint32_t{ip[3]};
  int matching = -1;
  for (int length = 0; length <= 32; ++length) {
    if ((length == 0 ? 0 : ~uint32_t{0} << (32 - length)) == mask) matching = length;
  }
  if (MaskToPrefix(text.c_str()) != matching) __builtin_trap();
}

}  // namespace

// The raw input, then its first four bytes as a dotted quad, then a true mask of the length
// the first byte picks with the second byte's bits flipped in, so that valid and nearly
// valid masks are common.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(std::string(reinterpret_cast<const char*>(data), size));
  if (size < 4) return 0;
  Check(FormatIPv4(data));
  const int length = data[0] % 33;
  uint32_t mask = length == 0 ? 0 : ~uint32_t{0} << (32 - length);
  if (data[1] & 0x80) mask ^= uint32_t{1} << (data[1] & 31);
  const uint8_t bytes[4] = {static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16),
                            static_cast<uint8_t>(mask >> 8), static_cast<uint8_t>(mask)};
  Check(FormatIPv4(bytes));
  return 0;
}
