#pragma once

#include <string>

namespace platform {

// The operating system's event log: syslog(3) under an ident, facility daemon, priority
// info; journald files it. Failures are silent, as reporting an event never fails a caller.
class SystemLog {
 public:
  explicit SystemLog(std::string source);
  ~SystemLog();
  SystemLog(const SystemLog&) = delete;
  SystemLog& operator=(const SystemLog&) = delete;

  void Report(const char* text);

 private:
  std::string source_;  // openlog keeps a pointer to it
};

}  // namespace platform
