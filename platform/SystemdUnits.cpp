#include "platform/SystemdUnits.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

// Runs systemctl with the arguments and gives its exit status, or -1 when it cannot run.
int Systemctl(const char* verb, const char* unit) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (unit != nullptr) {
      execlp("systemctl", "systemctl", "--quiet", verb, unit, static_cast<char*>(nullptr));
    } else {
      execlp("systemctl", "systemctl", "--quiet", verb, static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Unit names are lower case, as systemd's are: the service "Velnor" is velnor.service.
std::string UnitName(const std::string& name) {
  std::string unit = name;
  for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return unit + ".service";
}

}  // namespace

SystemdUnits::SystemdUnits() {
  const char* override = std::getenv("VELNOR_UNIT_DIR");
  directory_ = override != nullptr && *override != '\0' ? override : "/etc/systemd/system";
}

std::string SystemdUnits::UnitPath(const std::string& name) const {
  return directory_ + "/" + UnitName(name);
}

bool SystemdUnits::Accessible() const { return access(directory_.c_str(), W_OK | X_OK) == 0; }

bool SystemdUnits::Exists(const std::string& name) const {
  struct stat info {};
  return stat(UnitPath(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SystemdUnits::SystemdRunning() const {
  struct stat info {};
  return stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

bool SystemdUnits::Create(const std::string& name, const std::string& quotedCommand,
                            const std::string& workingDirectory) const {
  const std::string path = UnitPath(name);
  const std::string temporary = path + ".new";
  {
    std::ofstream unit(temporary, std::ios::trunc);
    unit << "[Unit]\n"
         << "Description=" << name << "\n"
         << "Wants=network-online.target\n"
         << "After=network-online.target\n"
         << "\n"
         << "[Service]\n"
         << "Type=notify\n"
         << "NotifyAccess=main\n"
         << "ExecStart=" << quotedCommand << "\n"
         << "WorkingDirectory=" << workingDirectory << "\n"
         << "AmbientCapabilities=CAP_NET_RAW\n";
    unit.flush();
    if (!unit) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  if (SystemdRunning()) Systemctl("daemon-reload", nullptr);
  return true;
}

SystemdUnits::StopResult SystemdUnits::Stop(const std::string& name) const {
  if (!SystemdRunning()) return StopResult::kNotActive;
  const std::string unit = UnitName(name);
  if (Systemctl("is-active", unit.c_str()) != 0) return StopResult::kNotActive;
  return Systemctl("stop", unit.c_str()) == 0 ? StopResult::kStopped : StopResult::kFailed;
}

bool SystemdUnits::Delete(const std::string& name) const {
  if (std::remove(UnitPath(name).c_str()) != 0) return false;
  if (SystemdRunning()) Systemctl("daemon-reload", nullptr);
  return true;
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace platform
