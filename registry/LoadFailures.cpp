#include "registry/LoadFailures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "platform/Mutex.h"
#include "platform/UniqueFd.h"
#include "support/AdminReport.h"

namespace {

// The paths whose next save must keep a backup.
struct BackupDemands {
  platform::Mutex mutex;
  std::set<std::string> paths VELNOR_GUARDED_BY(mutex);
};

BackupDemands& Demands() {
  static BackupDemands demands;
  return demands;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Moves an older backup out of the way, so that no backup is ever overwritten.
bool MoveAside(const std::string& backup) {
  if (!Exists(backup)) return true;
  for (int number = 1; number < 1000000; ++number) {
    const std::string older = backup + "." + std::to_string(number);
    if (!Exists(older)) return std::rename(backup.c_str(), older.c_str()) == 0;
  }
  return false;
}

// A copy written beside the target and renamed into place, as the saves do.
bool CopyFile(const std::string& from, const std::string& to) {
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in) return errno == ENOENT;  // nothing to keep
  struct stat info {};
  if (::fstat(in.Get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) return true;  // a FIFO or device holds nothing to keep
  std::string temporary = to + ".XXXXXX";
  platform::UniqueFd out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out) return false;
  bool copied = ::fchmod(out.Get(), info.st_mode & 07777) == 0;
  char block[65536];
  while (copied) {
    const ssize_t got = ::read(in.Get(), block, sizeof block);
    if (got == 0) break;
    if (got < 0) {
      copied = errno == EINTR;
      continue;
    }
    for (ssize_t done = 0; done < got && copied;) {
      const ssize_t put = ::write(out.Get(), block + done, static_cast<std::size_t>(got - done));
      if (put > 0) done += put;
      else copied = put < 0 && errno == EINTR;
    }
  }
  copied = copied && ::fsync(out.Get()) == 0 && MoveAside(to) && std::rename(temporary.c_str(), to.c_str()) == 0;
  if (!copied) ::unlink(temporary.c_str());
  return copied;
}

}  // namespace

void LoadFailed(const char* dataName, const std::string& path, int line, const std::string& problem) {
  if (line > 0 && problem.empty()) {
    ReportFailure(3, "I failed in reading of %s data: %s line %d.", dataName, path.c_str(), line);
  } else {
    ReportFailure(3, "I failed in reading of %s data: %s: %s.", dataName, path.c_str(), problem.c_str());
  }
  BackupDemands& demands = Demands();
  platform::MutexLock lock(demands.mutex);
  demands.paths.insert(path);
}

void LoadSucceeded(const std::string& path) {
  BackupDemands& demands = Demands();
  platform::MutexLock lock(demands.mutex);
  demands.paths.erase(path);
}

bool KeepBackupIfDemanded(const std::string& path) {
  BackupDemands& demands = Demands();
  platform::MutexLock lock(demands.mutex);
  if (demands.paths.count(path) == 0) return true;
  if (!CopyFile(path, path + ".bak")) return false;
  demands.paths.erase(path);
  return true;
}
