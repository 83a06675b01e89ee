#pragma once

#include <cstdint>
#include <set>
#include <string>

// The console's settings in section SERVICE of Velnor.ini. They are read at every accepted
// connection, so that a change applies to the next one.

// REMOTE: true when it is enable, in any case.
bool RemoteAccessOn();

// Reads IDLE: how long a session may receive nothing before it is closed; 0 is no limit.
// A value that is not a number of seconds gives the default and is reported, in the log
// and on standard error, once per distinct text. Used by one thread at a time (the
// listener).
class IdleLimitSetting {
 public:
  static constexpr std::uint32_t kDefaultSeconds = 600;
  // The limit in milliseconds must fit a signed 32-bit wait.
  static constexpr std::uint32_t kMaxIdleSeconds = 2147483;

  std::uint32_t Read();

 private:
  std::set<std::string> reported_;
};
