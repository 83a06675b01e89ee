#include "platform/SystemLog.h"

#include <syslog.h>

namespace platform {

SystemLog::SystemLog(std::string source) : source_(std::move(source)) {
  openlog(source_.c_str(), LOG_PID, LOG_DAEMON);
}

SystemLog::~SystemLog() { closelog(); }

void SystemLog::Report(const char* text) { syslog(LOG_DAEMON | LOG_INFO, "%s", text); }

}  // namespace platform
