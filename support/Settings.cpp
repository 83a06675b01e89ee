#include "support/Settings.h"

#include <arpa/inet.h>

#include "platform/IniFile.h"
#include "support/AddressParse.h"
#include "support/AdminReport.h"
#include "support/DigitParse.h"
#include "support/TextScan.h"

namespace settings {
namespace {

// Every value is read as into a buffer of this size, as the profile reader's callers do.
constexpr std::size_t kValueSize = 256;
// The collector's address is read into the log's own larger buffer.
constexpr std::size_t kDestinationSize = 1024;
// The digits of the largest idle limit: a longer text is out of range, and cannot overflow.
constexpr std::size_t kMaxIdleDigits = 7;

std::string Read(const char* section, const char* key, const std::string& defaultValue,
                 const char* file = kServiceFile, std::size_t size = kValueSize) {
  return platform::ReadIniString(section, key, defaultValue, size, file);
}

bool Enabled(const char* section, const char* key) {
  std::string value = Read(section, key, "disable");
  StrToLower(value.data());
  return value == "enable";
}

// Whole seconds, 0 to the largest limit; none for any other text.
std::optional<std::uint32_t> ParseIdleSeconds(const std::string& text) {
  if (text.empty() || text.size() > kMaxIdleDigits) return std::nullopt;
  for (const char c : text) {
    if (!IsDecimalDigit(c)) return std::nullopt;
  }
  const std::uint32_t seconds = ParseDecimal32(text.c_str());
  if (seconds > IdleLimitSetting::kMaxIdleSeconds) return std::nullopt;
  return seconds;
}

struct Severity {
  const char* name;
  int level;
};
constexpr Severity kSeverities[] = {{"emerg", 0},   {"alert", 1},  {"crit", 2}, {"err", 3},
                                    {"warning", 4}, {"notice", 5}, {"info", 6}, {"debug", 7}};

}  // namespace

bool RemoteAccessOn() { return Enabled("SERVICE", "REMOTE"); }

bool AutoSaveOn() { return Enabled("SERVICE", "AUTOSAVE"); }

std::uint32_t IdleLimitSetting::Read() {
  const std::string text = settings::Read("SERVICE", "IDLE", std::to_string(kDefaultSeconds));
  if (const std::optional<std::uint32_t> seconds = ParseIdleSeconds(text)) return *seconds;
  if (reported_.insert(text).second) {
    ReportFailure(4, "%s: IDLE=%s in section SERVICE is not a number of seconds; %u is used.", kServiceFile,
                  text.c_str(), kDefaultSeconds);
  }
  return kDefaultSeconds;
}

std::string ReadCommandPortText() { return Read("SERVICE", "PORT", kDefaultCommandPort); }

bool WriteCommandPortText(const std::string& text) {
  return platform::WriteIniString("SERVICE", "PORT", text, kServiceFile);
}

std::uint16_t CommandPortNumber(const std::string& text) { return ParseNumberInRange(text.c_str(), 1, 65535); }

void ReportBadCommandPort(const std::string& text) {
  ReportFailure(2, "%s: PORT=%s in section SERVICE is not a port from 1 to 65535; the service stops.", kServiceFile,
                text.c_str());
}

std::string ReadSenderCountText() { return Read("HTTP", "SENDERS", kDefaultSenders); }

std::uint16_t SenderCount(const std::string& text) { return ParseNumberInRange(text.c_str(), 1, kMaxSenders); }

void ReportBadSenderCount(const std::string& text) {
  ReportFailure(2, "%s: SENDERS=%s in section HTTP is not a number from 1 to %u; the service stops.", kServiceFile,
                text.c_str(), static_cast<unsigned>(kMaxSenders));
}

bool PingLibraryModeOn() { return Read("PING", "MODE", "raw") == "dll"; }

std::optional<std::uint16_t> MetricsPort() {
  const std::string text = Read("METRICS", "PORT", "");
  if (text.empty()) return std::nullopt;
  const std::uint16_t port = ParseNumberInRange(text.c_str(), 1, 65535);
  if (port == 0) {
    ReportFailure(3, "%s: PORT=%s in section METRICS is not a port from 1 to 65535; no metrics are served.",
                  kServiceFile, text.c_str());
    return std::nullopt;
  }
  return port;
}

bool NacPersistOn() { return Enabled("NAC", "PERSIST"); }

std::optional<std::uint32_t> LogDestination() {
  const std::string text = Read("SYSLOG", "DESTINATION", "127.0.0.1", kLogFile, kDestinationSize);
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) == 1) return address.s_addr;
  // The log cannot carry it, and every later line tries the opening again: say it once,
  // where it can be seen.
  ReportOnce("%s: DESTINATION=%s in section SYSLOG is not an IPv4 address; no log line can be sent.", kLogFile,
             text.c_str());
  return std::nullopt;
}

int LogThreshold() {
  const std::string mask = Read("SYSLOG", "PRIORITYMASK", "info", kLogFile);
  for (const Severity& severity : kSeverities) {
    if (mask == severity.name) return severity.level;
  }
  return 7;
}

}  // namespace settings
