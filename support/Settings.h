#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

// Every setting of the service: the file, section and key it lives under, its default, how
// its text is read and what is reported when the text is wrong. Each is read where it is
// used, from the working directory, so an edit applies the next time it is read: REMOTE and
// IDLE at every console connection, PERSIST at every NAC change, MODE when the prober
// starts, the SYSLOG keys when the log opens, PORT at start (and by `service load`),
// AUTOSAVE at start, SENDERS when the delivery starts.
namespace settings {

inline constexpr char kServiceFile[] = "Velnor.ini";
inline constexpr char kLogFile[] = "syslog.ini";

// [SERVICE] REMOTE: true when it is "enable", in any case (default "disable").
bool RemoteAccessOn();

// [SERVICE] AUTOSAVE: true when it is "enable", in any case (default "disable").
bool AutoSaveOn();

// [SERVICE] IDLE: how long a console session may receive nothing before it is closed; 0 is
// no limit. A value that is not a number of seconds gives the default and is reported, in
// the log and on standard error, once per distinct text. Used by one thread at a time.
class IdleLimitSetting {
 public:
  static constexpr std::uint32_t kDefaultSeconds = 600;
  // The limit in milliseconds must fit a signed 32-bit wait.
  static constexpr std::uint32_t kMaxIdleSeconds = 2147483;

  std::uint32_t Read();

 private:
  std::set<std::string> reported_;
};

// [SERVICE] PORT, the command port, as written (default "8000").
inline constexpr char kDefaultCommandPort[] = "8000";
std::string ReadCommandPortText();
// Writes the text as PORT; false when the file cannot be written.
[[nodiscard]] bool WriteCommandPortText(const std::string& text);
// The port of the text, 1 to 65535; 0 when it is no port.
std::uint16_t CommandPortNumber(const std::string& text);
// The text was no port and the service stops: in the log at 2 and on standard error.
void ReportBadCommandPort(const std::string& text);

// [HTTP] SENDERS: how many gateways the delivery serves at once, 1 to 1024 (default 5).
inline constexpr char kDefaultSenders[] = "5";
inline constexpr std::uint16_t kMaxSenders = 1024;
std::string ReadSenderCountText();
// The count of the text; 0 when it is no number from 1 to 1024.
std::uint16_t SenderCount(const std::string& text);
// The text was no sender count and the service stops: in the log at 2 and on standard error.
void ReportBadSenderCount(const std::string& text);

// [PING] MODE: true for exactly "dll" (the kernel's ICMP datagram sockets), false for
// anything else, "raw" by default.
bool PingLibraryModeOn();

// [METRICS] PORT: the port of the metrics page; none when the key is absent, or when its
// text is no port from 1 to 65535 (reported in the log at 3 and on standard error).
std::optional<std::uint16_t> MetricsPort();

// [NAC] PERSIST: true when it is "enable", in any case (default "disable").
bool NacPersistOn();

// [SYSLOG] DESTINATION: the collector's IPv4 address in network order (default
// 127.0.0.1); none when the text is no IPv4 address, which standard error is told once.
std::optional<std::uint32_t> LogDestination();

// [SYSLOG] PRIORITYMASK: the highest severity sent, by its name ("emerg" 0 to "debug" 7,
// default "info"); any other text sends everything (7).
int LogThreshold();

}  // namespace settings
