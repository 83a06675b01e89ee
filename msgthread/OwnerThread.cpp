#include "msgthread/OwnerThread.h"

#include <system_error>

#include "platform/ThreadMessages.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

void OwnerThread::SaveThreadID(uint32_t threadId) {
  try {
    platform::MutexLock lock(mutex_);
    ownerThreadId_ = threadId;
  } catch (const std::system_error&) {
    throw ThrownText("I failed in a save of ThreadID.");
  }
}

uint32_t OwnerThread::LoadThreadID() {
  try {
    platform::MutexLock lock(mutex_);
    return ownerThreadId_;
  } catch (const std::system_error&) {
    SyslogSend(2, "I failed in a load of ThreadID.");
    return 0;
  }
}

bool OwnerThread::PostMessageMainThread(uint32_t message, uint32_t wParam, uint32_t lParam) {
  const uint32_t owner = LoadThreadID();
  if (owner == 0) return false;
  return platform::PostToThread(owner, message, wParam, lParam);
}
