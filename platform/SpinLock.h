#pragma once

#include <atomic>
#include <thread>

#include "platform/ThreadSafety.h"

namespace platform {

// A lock for sections of a few dozen instructions that every thread passes through but
// seldom two at once (the block pools): a free lock is taken with one atomic exchange and
// given back with a plain store, where a mutex costs two calls and two atomic operations.
// A waiter spins a little, then yields its processor at every further try, so that a
// holder that lost its own goes on.
class VELNOR_CAPABILITY("mutex") SpinLock {
 public:
  void Lock() VELNOR_ACQUIRE() {
    if (!locked_.exchange(true, std::memory_order_acquire)) return;
    Wait();
  }
  void Unlock() VELNOR_RELEASE() { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpins = 64;

  void Wait() VELNOR_NO_THREAD_SAFETY_ANALYSIS {
    for (int tries = 0;; ++tries) {
      if (!locked_.load(std::memory_order_relaxed) && !locked_.exchange(true, std::memory_order_acquire)) return;
      if (tries < kSpins) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
      } else {
        std::this_thread::yield();
      }
    }
  }

  std::atomic<bool> locked_{false};
};

// Holds a SpinLock for a scope.
class VELNOR_SCOPED_CAPABILITY SpinLockHolder {
 public:
  explicit SpinLockHolder(SpinLock& lock) VELNOR_ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~SpinLockHolder() VELNOR_RELEASE() { lock_.Unlock(); }
  SpinLockHolder(const SpinLockHolder&) = delete;
  SpinLockHolder& operator=(const SpinLockHolder&) = delete;

 private:
  SpinLock& lock_;
};

}  // namespace platform
