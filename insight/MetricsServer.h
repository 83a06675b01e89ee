#pragma once

#include <cstdint>
#include <optional>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"

// The metrics port: answers "GET /metrics" with the metrics page and "GET /" (or HEAD /)
// with the fleet status page, to loopback peers only unless REMOTE is enable (read at
// every connection, as the console does). One thread serves every connection from one poll
// loop, so a slow or silent client never holds up the next scrape: each has 8 KiB for its
// request and 2 s to send it, a malformed or oversized request gets a 400 and the
// connection closed, and with 64 connections open a new one displaces the oldest that has
// not sent its request.
class MetricsServer {
 public:
  // Listens on port (any address); false when it cannot, logged.
  [[nodiscard]] bool Start(std::uint16_t port);
  // Ends the thread and closes every connection.
  ~MetricsServer();

 private:
  void Serve();

  platform::UniqueSocket listener_;
  std::optional<platform::Event> stop_;
  platform::Thread thread_;
};
