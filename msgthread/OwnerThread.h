#pragma once

#include <cstdint>

#include "platform/Mutex.h"

// The link from an active object to the thread that owns it: the owner's message-thread
// id, saved by the owner right after construction, and the one way to report to it.
// Every message-thread class and worker class inherits it. Callable from any thread.
class OwnerThread {
 public:
  // Throws ThrownText("I failed in a save of ThreadID.") when the lock fails.
  void SaveThreadID(uint32_t threadId);
  // 0 when no owner was saved yet, or when the lock fails (logged at priority 2).
  uint32_t LoadThreadID();
  // Posts to the owner; false without posting while the owner id is 0, or when the post
  // fails. Callers log their own "<Class>::<Method>: An error occurred in
  // PostMessageMainThread." line on false.
  [[nodiscard]] bool PostMessageMainThread(uint32_t message, uint32_t wParam, uint32_t lParam);

 protected:
  OwnerThread() = default;
  ~OwnerThread() = default;

 private:
  platform::Mutex mutex_;
  uint32_t ownerThreadId_ VELNOR_GUARDED_BY(mutex_) = 0;
};
