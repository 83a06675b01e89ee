#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "platform/UniqueFd.h"

namespace platform {

// How a listener is opened: the local IPv4 address and port (host order; port 0 lets the
// kernel pick), the backlog, and whether the socket starts non-blocking.
struct TcpListenOptions {
  uint32_t address = 0;  // INADDR_ANY
  uint16_t port = 0;
  int backlog = SOMAXCONN;
  bool nonBlocking = false;
};

// A close-on-exec TCP socket bound and listening as asked, with SO_REUSEADDR: a restart
// need not wait for the last run's connections to leave TIME_WAIT, while a port held by a
// live listener still refuses the bind. Invalid, with errno telling why, when a step fails.
UniqueSocket ListenTcp(const TcpListenOptions& options);

// The local port of a bound socket, in host order; 0 when it cannot be had.
uint16_t LocalPort(int socket);

}  // namespace platform
