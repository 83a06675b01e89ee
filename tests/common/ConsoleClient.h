#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/UniqueFd.h"

namespace testing_support {

// An operator at the console: a TCP connection to the command port on 127.0.0.1 that
// reads replies up to the next prompt. Other servers on 127.0.0.1 take it as a plain client.
class ConsoleClient {
 public:
  // Connects from source (a loopback address such as "127.0.0.2") when given, to
  // destination.
  explicit ConsoleClient(std::uint16_t port, const std::string& source = "",
                         const std::string& destination = "127.0.0.1");

  bool Connected() const { return socket_.Get() >= 0; }
  int Fd() const { return socket_.Get(); }
  bool Send(const std::string& bytes) const;

  // Everything up to and including the next "$ "; none when the connection ends or the
  // time-out passes first.
  std::optional<std::string> ReadPrompt(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Sends the line with its LF and gives the reply without the prompt that ends it.
  std::optional<std::string> Command(const std::string& line,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The next count bytes, or those that came before the connection ended or the time-out passed.
  std::string Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(2));
  // Everything until the server closes the connection; none after the time-out.
  std::optional<std::string> ReadToClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  // Reads once, waiting at most until deadline; false on close, error or time-out.
  bool Fill(std::chrono::steady_clock::time_point deadline);

  platform::UniqueSocket socket_;
  std::string pending_;
  bool closed_ = false;
};

}  // namespace testing_support
