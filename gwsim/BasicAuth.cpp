#include "gwsim/BasicAuth.h"

#include <strings.h>

#include <cstdint>

namespace gwsim {

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

bool BasicAuthorizes(std::string_view fieldValue, std::string_view user, std::string_view password) {
  constexpr std::string_view kScheme = "Basic ";
  if (fieldValue.size() < kScheme.size() || ::strncasecmp(fieldValue.data(), kScheme.data(), kScheme.size()) != 0)
    return false;
  fieldValue.remove_prefix(kScheme.size());
  while (!fieldValue.empty() && fieldValue.front() == ' ') fieldValue.remove_prefix(1);
  return fieldValue == Base64(std::string(user) + ":" + std::string(password));
}

}  // namespace gwsim
