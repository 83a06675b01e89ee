#include "platform/SystemdUnits.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

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

// Rather than quote every oddity of the unit file syntax, the unit refuses the characters
// that would change a path's meaning there. A trailing blank would be trimmed away.
bool WritablePath(std::string_view path) {
  if (path.empty() || path.front() != '/' || path.back() == ' ') return false;
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '$') return false;
  }
  return true;
}

// systemd expands %-specifiers in every path setting.
std::string Literal(std::string_view path) {
  std::string text;
  for (const char c : path) {
    if (c == '%') text += '%';
    text += c;
  }
  return text;
}

std::string Quoted(std::string_view path) { return "\"" + Literal(path) + "\""; }

// BindPaths= splits source and destination at ':'.
std::string QuotedBindPath(std::string_view path) {
  std::string text = "\"";
  for (const char c : Literal(path)) {
    if (c == ':') text += '\\';
    text += c;
  }
  return text + "\"";
}

bool Under(std::string_view path, std::string_view top) {
  return path == top || (path.size() > top.size() && path.substr(0, top.size()) == top && path[top.size()] == '/');
}

// The system user that the package makes, owner of its working directory.
constexpr char kServiceUser[] = "velnor";

// A file the service keeps in its working directory: one of its own, or a backup or save
// leftover of one ("gw.csv.bak.1", "pc.csv.Ab12Cd").
bool InstanceFile(std::string_view name, InstanceFiles instanceFiles) {
  for (std::string_view base : instanceFiles) {
    if (name == base || (name.size() > base.size() && name.substr(0, base.size()) == base && name[base.size()] == '.')) {
      return true;
    }
  }
  return false;
}

struct Account {
  std::string user;   // empty: root
  std::string group;
};

// The regular files of the directory when it holds the instance's files alone; none when
// it holds anything else (another file, a link, a subdirectory) or cannot be read.
std::optional<std::vector<std::string>> InstanceFilesAlone(int directory, InstanceFiles instanceFiles) {
  const int listing = ::dup(directory);
  if (listing < 0) return std::nullopt;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return std::nullopt;
  }
  std::vector<std::string> files;
  bool alone = true;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    // One link only: a hard link would hand over a file that also lives elsewhere.
    if (!InstanceFile(name, instanceFiles) || ::fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_nlink != 1) {
      alone = false;
      break;
    }
    files.emplace_back(name);
  }
  ::closedir(dir);
  if (!alone) return std::nullopt;
  return files;
}

// Who the service runs as; see SystemdUnits::Create. DynamicUser= does not fit: its
// transient uid owns nothing in the directory the administrator chose, and systemd hands such
// a user only directories of its own under /var/lib (StateDirectory=), not this one.
std::optional<Account> AccountFor(const std::string& name, const std::string& workingDirectory,
                                  InstanceFiles instanceFiles) {
  UniqueFd directory(::open(workingDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!directory || ::fstat(directory.Get(), &info) != 0) return std::nullopt;
  if (info.st_uid != 0) {
    if (const passwd* owner = ::getpwuid(info.st_uid)) return Account{owner->pw_name, ""};
    return Account{std::to_string(info.st_uid), std::to_string(info.st_gid)};
  }
  const passwd* velnor = ::getpwnam(kServiceUser);
  if (velnor == nullptr) return Account{};
  const uid_t uid = velnor->pw_uid;
  const gid_t gid = velnor->pw_gid;
  const std::optional<std::vector<std::string>> files = InstanceFilesAlone(directory.Get(), instanceFiles);
  if (!files) {
    std::fprintf(stderr,
                 "%s: %s belongs to root and holds more than the service's files, so the service "
                 "runs as root with no privilege but CAP_NET_RAW. To run it as %s instead: chown -R "
                 "%s:%s %s, then register again with -Service.\n",
                 name.c_str(), workingDirectory.c_str(), kServiceUser, kServiceUser, kServiceUser,
                 workingDirectory.c_str());
    return Account{};
  }
  for (const std::string& file : *files) {
    if (::fchownat(directory.Get(), file.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  }
  if (::fchown(directory.Get(), uid, gid) != 0) return std::nullopt;
  return Account{kServiceUser, ""};
}

}  // namespace

std::optional<std::string> ServiceUnitText(const ServiceUnit& unit) {
  if (!WritablePath(unit.executable) || !WritablePath(unit.workingDirectory)) return std::nullopt;
  const std::string& directory = unit.workingDirectory;
  // Home directories are hidden from the service; one that holds the instance gets an empty
  // tmpfs instead, with the instance bound back in. The bind also keeps an instance in /tmp
  // visible through the service's private /tmp.
  const bool inHome = Under(directory, "/home") || Under(directory, "/root") || Under(directory, "/run/user");
  std::string text =
      "[Unit]\n"
      "Description=" + Literal(unit.name) + " network access control\n"
      "Documentation=man:velnor(8)\n"
      "Wants=network-online.target\n"
      "After=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "NotifyAccess=main\n"
      "ExecStart=" + Quoted(unit.executable) + "\n"
      "WorkingDirectory=" + Literal(directory) + "\n";
  if (!unit.user.empty()) text += "User=" + unit.user + "\n";
  if (!unit.group.empty()) text += "Group=" + unit.group + "\n";
  text +=
      // A wrong PORT (78) or a missing registration (1) would only fail again.
      "Restart=on-failure\n"
      "RestartSec=5s\n"
      "RestartPreventExitStatus=1 78\n"
      // The service stops in order on SIGTERM; what is left after the time-out is killed.
      "KillSignal=SIGTERM\n"
      "KillMode=mixed\n"
      "UMask=0077\n"
      // Raw ICMP sockets for the gateway probes, nothing more.
      "AmbientCapabilities=CAP_NET_RAW\n"
      "CapabilityBoundingSet=CAP_NET_RAW\n"
      "NoNewPrivileges=yes\n"
      "ProtectSystem=strict\n"
      "ReadWritePaths=" + Quoted(directory) + "\n"
      "BindPaths=" + QuotedBindPath(directory) + "\n"
      "ProtectHome=" + (inHome ? "tmpfs" : "yes") + "\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "PrivateMounts=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "ProcSubset=pid\n"
      // IPv4: console, gateways, probes, log collector; local: the notify socket and the
      // system log; netlink: the interface list.
      "RestrictAddressFamilies=AF_INET AF_UNIX AF_NETLINK\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "RemoveIPC=yes\n"
      "KeyringMode=private\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallFilter=~@privileged\n"
      "SystemCallErrorNumber=EPERM\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

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
                          const std::string& workingDirectory, InstanceFiles instanceFiles) const {
  std::string executable = quotedCommand;
  if (executable.size() >= 2 && executable.front() == '"' && executable.back() == '"') {
    executable = executable.substr(1, executable.size() - 2);
  }
  const std::optional<Account> account = AccountFor(name, workingDirectory, instanceFiles);
  if (!account) return false;
  const std::optional<std::string> text =
      ServiceUnitText({name, executable, workingDirectory, account->user, account->group});
  if (!text) return false;
  const std::string path = UnitPath(name);
  const std::string temporary = path + ".new";
  {
    std::ofstream unit(temporary, std::ios::trunc);
    unit << *text;
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
