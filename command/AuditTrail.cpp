#include "command/AuditTrail.h"

#include <algorithm>
#include <utility>

void AuditTrail::Keep(std::string line) {
  platform::MutexLock lock(mutex_);
  if (lines_.size() == kKept) lines_.pop_front();
  lines_.push_back(std::move(line));
}

std::vector<std::string> AuditTrail::Recent(std::size_t count) const {
  platform::MutexLock lock(mutex_);
  const std::size_t taken = std::min(count, lines_.size());
  return {lines_.end() - static_cast<std::ptrdiff_t>(taken), lines_.end()};
}

AuditTrail& GetAuditTrail() {
  static AuditTrail trail;
  return trail;
}
