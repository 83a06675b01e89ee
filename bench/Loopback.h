#pragma once

// Loopback addresses and ports for the benchmarks that talk TCP to a console.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "platform/UniqueFd.h"

namespace bench {

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port that nothing listens on right now.
inline std::uint16_t FreePort() {
  platform::UniqueFd probe(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  ::bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

}  // namespace bench
