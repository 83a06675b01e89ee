#include "support/ControlBytes.h"

std::string EscapeControlBytes(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string_view taken = text.substr(0, limit);
  std::string shown;
  shown.reserve(taken.size() + 3);
  for (const char c : taken) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xf];
    } else {
      shown += c;
    }
  }
  if (text.size() > limit) shown += "...";
  return shown;
}
