#include "command/SessionSlots.h"

#include "command/NacCmdProtocol.h"

SessionSlots::SessionSlots() = default;

SessionSlots::~SessionSlots() = default;

int SessionSlots::Reserve() {
  platform::MutexLock lock(mutex_);
  for (int slot = 0; slot < kCount; ++slot) {
    if (!taken_[slot]) {
      taken_[slot] = true;
      return slot;
    }
  }
  return -1;
}

void SessionSlots::Fill(int slot, std::unique_ptr<CNacCmdProtocol> session) {
  if (!InRange(slot)) return;
  platform::MutexLock lock(mutex_);
  sessions_[slot] = std::move(session);
}

std::unique_ptr<CNacCmdProtocol> SessionSlots::Take(int slot) {
  if (!InRange(slot)) return nullptr;
  platform::MutexLock lock(mutex_);
  return std::move(sessions_[slot]);
}

std::unique_ptr<CNacCmdProtocol> SessionSlots::TakeExitLost(int slot) {
  if (!InRange(slot)) return nullptr;
  platform::MutexLock lock(mutex_);
  if (!sessions_[slot] || !sessions_[slot]->ExitLost()) return nullptr;
  return std::move(sessions_[slot]);
}

void SessionSlots::Release(int slot) {
  if (!InRange(slot)) return;
  platform::MutexLock lock(mutex_);
  taken_[slot] = false;
}
