#pragma once

#include <string>

namespace platform {

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
  bool Create(const std::string& name, const std::string& quotedCommand,
              const std::string& workingDirectory) const;

  // Results of Stop: done, the unit is not active, or systemctl failed.
  enum class StopResult { kStopped, kNotActive, kFailed };
  StopResult Stop(const std::string& name) const;
  // DeleteService: removes the unit file and reloads systemd.
  bool Delete(const std::string& name) const;

 private:
  bool SystemdRunning() const;

  std::string directory_;
};

// Full path of the running executable (readlink of /proc/self/exe); empty on failure.
std::string ExecutablePath();

}  // namespace platform
