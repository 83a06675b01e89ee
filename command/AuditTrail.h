#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/Mutex.h"

// The latest audit lines, as they were logged, for the status page. Callable from any
// thread.
class AuditTrail {
 public:
  static constexpr std::size_t kKept = 200;

  void Keep(std::string line);
  // The last count lines kept (fewer when there are fewer), oldest first.
  std::vector<std::string> Recent(std::size_t count) const;

 private:
  mutable platform::Mutex mutex_;
  std::deque<std::string> lines_ VELNOR_GUARDED_BY(mutex_);
};

AuditTrail& GetAuditTrail();
