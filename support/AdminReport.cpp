#include "support/AdminReport.h"

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>

#include "platform/Mutex.h"
#include "support/Syslog.h"

namespace {

std::string Format(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

void PrintLine(const std::string& text) {
  std::fprintf(stderr, "Velnor: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

void ReportFailure(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  SyslogSend(priority, "%s", text.c_str());
  PrintLine(text);
}

void ReportOnce(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  // One entry per text already said.
  static struct {
    platform::Mutex mutex;
    std::set<std::string> texts VELNOR_GUARDED_BY(mutex);
  } reported;
  {
    platform::MutexLock lock(reported.mutex);
    if (!reported.texts.insert(text).second) return;
  }
  PrintLine(text);
}
