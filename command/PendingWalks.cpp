#include "command/PendingWalks.h"

#include <algorithm>

#include "command/CommandEvent.h"

bool PendingWalks::Flag(CommandId id, std::int32_t result) {
  std::lock_guard lock(mutex_);
  auto entry = std::ranges::find(flagged_, id, &Flagged::id);
  if (entry == flagged_.end()) entry = flagged_.insert(flagged_.end(), Flagged{id});
  // A load withdraws what was there and adds what it read; a code not known here counts as both.
  entry->adds |= result != command_event::kDel && result != command_event::kClear;
  entry->withdraws |= result != command_event::kAdd;
  ++changes_;
  ++waiting_;
  if (outstanding_) return false;
  outstanding_ = true;
  return true;
}

void PendingWalks::PostFailed() {
  std::lock_guard lock(mutex_);
  outstanding_ = false;
}

std::optional<CommandId> PendingWalks::Unannounced() {
  std::lock_guard lock(mutex_);
  if (outstanding_ || flagged_.empty()) return std::nullopt;
  outstanding_ = true;
  return flagged_.front().id;
}

PendingWalks::Batch PendingWalks::Take() {
  std::lock_guard lock(mutex_);
  outstanding_ = false;
  Batch batch{std::move(flagged_), changes_};
  flagged_.clear();
  changes_ = 0;
  return batch;
}

void PendingWalks::Walked(std::size_t changes) {
  std::lock_guard lock(mutex_);
  waiting_ -= std::min(changes, waiting_);
}

std::size_t PendingWalks::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}
