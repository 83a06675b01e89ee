#pragma once

#include <sys/types.h>

#include "platform/UniqueFd.h"

namespace platform {

// The lock file of an instance, in its working directory.
inline constexpr char kInstanceLockFile[] = "velnor.lock";

// One service per working directory: an exclusive flock on a lock file there, kept until
// the process ends. The kernel drops it with the process, so a crash leaves nothing to
// clean up; the file itself stays (removing it would let two processes lock two files of
// the same name). The holder writes its pid into the file for people to read.
class InstanceLock {
 public:
  enum class Outcome { kHeld, kInUse, kUnavailable };

  // Tries the lock on path, relative to the working directory. A file that cannot be
  // written is locked read-only; a directory where it can be neither made nor opened (a
  // read-only mount) has the directory itself locked instead.
  explicit InstanceLock(const char* path);

  Outcome Result() const { return outcome_; }
  // The process that holds the lock when the result is kInUse; 0 when it cannot be told.
  pid_t Holder() const { return holder_; }
  // Why no lock could be had when the result is kUnavailable.
  int Error() const { return error_; }

 private:
  pid_t FindHolder(bool fileWritable) const;

  UniqueFd fd_;
  Outcome outcome_ = Outcome::kUnavailable;
  pid_t holder_ = 0;
  int error_ = 0;
};

}  // namespace platform
