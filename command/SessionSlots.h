#pragma once

#include <array>
#include <memory>

#include "platform/Mutex.h"

class CNacCmdProtocol;

// The command server's ten session slots. The listener fills them, the server's message
// thread empties them; a slot stays taken from Reserve until Release, so it is never
// handed out again while its old session is still being destroyed.
class SessionSlots {
 public:
  static constexpr int kCount = 10;

  SessionSlots();
  ~SessionSlots();
  SessionSlots(const SessionSlots&) = delete;
  SessionSlots& operator=(const SessionSlots&) = delete;

  // The lowest free slot, now taken; -1 when all are taken.
  [[nodiscard]] int Reserve();
  void Fill(int slot, std::unique_ptr<CNacCmdProtocol> session);
  // Hands the slot's session over (none for a slot out of range or empty); the slot stays
  // taken until Release.
  std::unique_ptr<CNacCmdProtocol> Take(int slot);
  // As Take, but only a session whose exit message was lost (CNacCmdProtocol::ExitLost).
  std::unique_ptr<CNacCmdProtocol> TakeExitLost(int slot);
  void Release(int slot);

 private:
  static bool InRange(int slot) { return slot >= 0 && slot < kCount; }

  platform::Mutex mutex_;
  std::array<bool, kCount> taken_ VELNOR_GUARDED_BY(mutex_){};
  std::array<std::unique_ptr<CNacCmdProtocol>, kCount> sessions_ VELNOR_GUARDED_BY(mutex_);
};
