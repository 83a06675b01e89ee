#include "gwsim/Endpoint.h"

#include <arpa/inet.h>

#include <charconv>

namespace gwsim {

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  Endpoint endpoint{std::string(text.substr(0, colon)), 0};
  in_addr parsed{};
  if (::inet_pton(AF_INET, endpoint.address.c_str(), &parsed) != 1) return std::nullopt;
  const std::string_view port = text.substr(colon + 1);
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), endpoint.port);
  if (port.empty() || error != std::errc() || end != port.data() + port.size()) return std::nullopt;
  return endpoint;
}

bool IsLoopback(const std::string& address) {
  in_addr parsed{};
  return ::inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

}  // namespace gwsim
