#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace testing_support {

// A syslog collector for tests: a UDP socket bound to a loopback address on port 514, with
// room for bursts of lines. Start it before the code under test opens its log socket.
class UdpCollector {
 public:
  // Binds 127.0.0.<host>:514 (host 0 picks one from the process id).
  explicit UdpCollector(int host = 0);

  // A collector on a random 127.0.0.2 to .254 whose port 514 is free, trying up to 20
  // hosts; throws std::runtime_error when none binds.
  static std::unique_ptr<UdpCollector> OnFreeAddress();

  const std::string& Address() const { return address_; }
  // The syslog.ini text that sends every level here.
  std::string SyslogIni(const std::string& mask = "debug") const;
  // Takes this process's log from its next line on: writes the syslog.ini of the working
  // directory, closes the log socket so that the next line opens it anew, and lets every
  // level through.
  void TakeTheLog(const std::string& mask = "debug") const;

  // The next datagram, or none after the time-out; fromPort receives its sender's port.
  std::optional<std::string> Next(std::chrono::milliseconds timeout = std::chrono::seconds(2),
                                  std::uint16_t* fromPort = nullptr);
  // Datagrams until one contains text (that one included), or none after the time-out.
  std::optional<std::vector<std::string>> Until(const std::string& text,
                                               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything that arrives within the quiet period after the last datagram.
  std::vector<std::string> Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));

 private:
  platform::UniqueSocket socket_;
  std::string address_;
};

// The caller's text of a datagram: what follows the header and "tag: " (no tag: the header
// alone). The whole datagram when it does not have that shape.
std::string LogText(const std::string& datagram, const std::string& tag = "Velnor");
// LogText of each datagram, in order.
std::vector<std::string> LogTexts(const std::vector<std::string>& datagrams, const std::string& tag = "Velnor");

}  // namespace testing_support
