#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace platform {

namespace {

// The flock holder of the file with this device and inode, from the kernel's lock table;
// 0 when the table cannot be read (a sandbox hides it) or names none.
pid_t LockTableHolder(const struct stat& file) {
  std::ifstream table("/proc/locks");
  for (std::string line; std::getline(table, line);) {
    // "1: FLOCK  ADVISORY  WRITE 4711 fd:01:1234 0 EOF"; waiters carry "->" after the number.
    char kind[16] = {};
    long pid = 0;
    unsigned major = 0, minor = 0;
    std::uintmax_t inode = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%ju", kind, &pid, &major, &minor, &inode) != 5) continue;
    if (std::string(kind) == "FLOCK" && inode == file.st_ino && major == ::major(file.st_dev) &&
        minor == ::minor(file.st_dev)) {
      return static_cast<pid_t>(pid);
    }
  }
  return 0;
}

}  // namespace

InstanceLock::InstanceLock(const char* path) {
  bool writable = true;
  fd_.Reset(::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd_) {
    writable = false;
    fd_.Reset(::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  }
  if (!fd_) fd_.Reset(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd_) {
    error_ = errno;
    return;
  }
  if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
    error_ = errno;
    if (error_ == EWOULDBLOCK) {
      outcome_ = Outcome::kInUse;
      holder_ = FindHolder(writable);
    }
    fd_.Reset();
    return;
  }
  outcome_ = Outcome::kHeld;
  if (writable && ::ftruncate(fd_.Get(), 0) == 0) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    (void)!::pwrite(fd_.Get(), pid.data(), pid.size(), 0);
  }
}

pid_t InstanceLock::FindHolder(bool fileWritable) const {
  struct stat file {};
  if (::fstat(fd_.Get(), &file) == 0) {
    if (const pid_t holder = LockTableHolder(file); holder > 0) return holder;
  }
  // Without the table, the pid in the file; only when this process could have written it
  // too, since a holder that could not has left the pid of an earlier one there.
  if (!fileWritable) return 0;
  char text[32] = {};
  if (::pread(fd_.Get(), text, sizeof text - 1, 0) <= 0) return 0;
  const long pid = std::strtol(text, nullptr, 10);
  return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace platform
