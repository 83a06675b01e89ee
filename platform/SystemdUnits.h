#pragma once

#include <optional>
#include <span>
#include <string>

namespace platform {

// The names of an instance's own files in its working directory.
using InstanceFiles = std::span<const char* const>;

// Service entries are systemd unit files "<name>.service", the name in lower case, in the
// unit directory: /etc/systemd/system, or $VELNOR_UNIT_DIR when set. A unit that exists is
// an installed service. systemctl runs only when systemd is the running init; otherwise the
// unit file alone is the registration.
class SystemdUnits {
 public:
  SystemdUnits();

  const std::string& UnitDirectory() const { return directory_; }
  std::string UnitPath(const std::string& name) const;

  // OpenSCManager: whether units can be created and removed here.
  bool Accessible() const;
  // OpenService: whether the unit exists.
  bool Exists(const std::string& name) const;
  // CreateService for a notify-type service started on demand (installed, not enabled).
  // The service runs as the account that can read and write its files in the working
  // directory with no privilege beyond CAP_NET_RAW:
  // - the directory's owner, when that is not root;
  // - for a directory of root's, the system user velnor (the package makes it) when it
  //   exists and the directory holds the instance's files alone (instanceFiles, their
  //   backups and leftovers): the directory and those files are given to velnor;
  // - root otherwise, bounded to CAP_NET_RAW, so that it writes what root owns and nothing
  //   else. When velnor exists, a note on standard error says how to give it the directory.
  // False when the directory cannot be examined or handed over, or when a path holds what a
  // unit file cannot carry.
  [[nodiscard]] bool Create(const std::string& name, const std::string& quotedCommand,
                            const std::string& workingDirectory, InstanceFiles instanceFiles) const;

  // Results of Stop: done, the unit is not active, or systemctl failed.
  enum class StopResult { kStopped, kNotActive, kFailed };
  StopResult Stop(const std::string& name) const;
  // DeleteService: removes the unit file and reloads systemd.
  [[nodiscard]] bool Delete(const std::string& name) const;

 private:
  bool SystemdRunning() const;

  std::string directory_;
};

// What sets one service unit apart; the rest of the unit, its hardening, is the same for
// the unit that -Service writes and the one the package installs.
struct ServiceUnit {
  std::string name;              // the service's name, "Velnor"
  std::string executable;        // absolute path
  std::string workingDirectory;  // absolute path
  std::string user;              // empty: root, holding CAP_NET_RAW alone
  std::string group;             // empty: the user's own group
};

// The text of the unit file; none when a path holds a control character, a double quote, a
// backslash, a dollar sign or a trailing blank, which the unit file syntax would take for
// something else.
[[nodiscard]] std::optional<std::string> ServiceUnitText(const ServiceUnit& unit);

// Full path of the running executable (readlink of /proc/self/exe); empty on failure.
std::string ExecutablePath();

}  // namespace platform
