#pragma once

#include <mutex>

#include "platform/ThreadSafety.h"

namespace platform {

// A plain mutex that clang's thread-safety analysis knows: fields written
// VELNOR_GUARDED_BY(mutex_) may only be touched while a MutexLock on it lives.
class VELNOR_CAPABILITY("mutex") Mutex {
 public:
  // Throws std::system_error when the lock cannot be taken, as std::mutex does.
  void Lock() VELNOR_ACQUIRE() { mutex_.lock(); }
  void Unlock() VELNOR_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for a scope.
class VELNOR_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) VELNOR_ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() VELNOR_RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace platform
