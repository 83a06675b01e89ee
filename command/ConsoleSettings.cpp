#include "command/ConsoleSettings.h"

#include <optional>

#include "platform/IniFile.h"
#include "support/AdminReport.h"
#include "support/DigitParse.h"
#include "support/TextScan.h"

namespace {

constexpr std::size_t kProfileBufferSize = 256;
constexpr char kIniFile[] = "Velnor.ini";
constexpr char kSection[] = "SERVICE";
// The digits of the largest limit: a longer text is out of range, and cannot overflow.
constexpr std::size_t kMaxDigits = 7;

// Whole seconds, 0 to the largest limit; none for any other text.
std::optional<std::uint32_t> ParseIdleSeconds(const std::string& text) {
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  for (const char c : text) {
    if (!IsDecimalDigit(c)) return std::nullopt;
  }
  const std::uint32_t seconds = ParseDecimal32(text.c_str());
  if (seconds > IdleLimitSetting::kMaxIdleSeconds) return std::nullopt;
  return seconds;
}

}  // namespace

bool RemoteAccessOn() {
  std::string value = platform::ReadIniString(kSection, "REMOTE", "disable", kProfileBufferSize, kIniFile);
  StrToLower(value.data());
  return value == "enable";
}

std::uint32_t IdleLimitSetting::Read() {
  const std::string text = platform::ReadIniString(kSection, "IDLE", std::to_string(kDefaultSeconds),
                                                   kProfileBufferSize, kIniFile);
  if (const std::optional<std::uint32_t> seconds = ParseIdleSeconds(text)) return *seconds;
  if (reported_.insert(text).second) {
    ReportFailure(4, "Velnor.ini: IDLE=%s in section SERVICE is not a number of seconds; %u is used.", text.c_str(),
                  kDefaultSeconds);
  }
  return kDefaultSeconds;
}
