#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gwsim {

// An IPv4 address and TCP port as written on a command line: "127.0.0.2:880".
struct Endpoint {
  std::string address;
  std::uint16_t port = 0;

  std::string Text() const { return address + ":" + std::to_string(port); }
};

// None unless the text is a dotted IPv4 address, a colon and a port from 0 to 65535.
std::optional<Endpoint> ParseEndpoint(std::string_view text);

// Whether the dotted IPv4 address lies in 127.0.0.0/8.
bool IsLoopback(const std::string& address);

}  // namespace gwsim
