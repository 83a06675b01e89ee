#include "command/PendingWalks.h"

#include <algorithm>

bool PendingWalks::Flag(CommandId id) {
  std::lock_guard lock(mutex_);
  if (std::ranges::find(ids_, id) == ids_.end()) ids_.push_back(id);
  ++flagged_;
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
  if (outstanding_ || ids_.empty()) return std::nullopt;
  outstanding_ = true;
  return ids_.front();
}

PendingWalks::Batch PendingWalks::Take() {
  std::lock_guard lock(mutex_);
  outstanding_ = false;
  Batch batch{std::move(ids_), flagged_};
  ids_.clear();
  flagged_ = 0;
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
