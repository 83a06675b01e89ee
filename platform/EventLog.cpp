#include "platform/EventLog.h"

#include <syslog.h>

namespace platform {

EventLog::EventLog(std::string source) : source_(std::move(source)) {
  openlog(source_.c_str(), LOG_PID, LOG_DAEMON);
}

EventLog::~EventLog() { closelog(); }

void EventLog::Report(const char* text) { syslog(LOG_DAEMON | LOG_INFO, "%s", text); }

}  // namespace platform
