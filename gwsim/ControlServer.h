#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Thread.h"
#include "platform/UniqueFd.h"

namespace gwsim {

// A line-based TCP control port on a loopback address: each line a client sends is handed
// to the handler and its reply sent back; "quit" ends the connection. A few clients at once,
// all served by one thread that the constructor starts and Stop (or the destructor) joins.
class ControlServer {
 public:
  using Handler = std::function<std::string(std::string_view line)>;

  // Throws std::runtime_error when the address is not in 127.0.0.0/8 or cannot be bound.
  ControlServer(const std::string& address, std::uint16_t port, Handler handler);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  std::uint16_t Port() const { return port_; }
  void Stop();

 private:
  void Loop();

  Handler handler_;
  std::uint16_t port_ = 0;
  platform::UniqueSocket listener_;
  platform::UniqueFd stop_;  // eventfd, written once by Stop
  platform::Thread thread_;
};

}  // namespace gwsim
