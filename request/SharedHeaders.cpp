#include "request/SharedHeaders.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <unordered_map>

namespace {

class HeaderTable {
 public:
  std::shared_ptr<const HeaderParts> Intern(std::string head, std::string tail) {
    std::string key = head + '\n' + tail;
    std::lock_guard lock(mutex_);
    auto found = parts_.find(key);
    if (found != parts_.end()) {
      if (std::shared_ptr<const HeaderParts> alive = found->second.lock()) return alive;
    }
    auto made = std::make_shared<const HeaderParts>(HeaderParts{std::move(head), std::move(tail)});
    parts_[std::move(key)] = made;
    // Gateways removed long ago leave expired entries: swept when the table has doubled.
    if (parts_.size() >= sweepAt_) {
      std::erase_if(parts_, [](const auto& entry) { return entry.second.expired(); });
      sweepAt_ = std::max<std::size_t>(kFirstSweep, parts_.size() * 2);
    }
    return made;
  }

 private:
  static constexpr std::size_t kFirstSweep = 64;
  std::mutex mutex_;
  std::unordered_map<std::string, std::weak_ptr<const HeaderParts>> parts_;
  std::size_t sweepAt_ = kFirstSweep;
};

}  // namespace

std::shared_ptr<const HeaderParts> SharedHeaderParts(std::string head, std::string tail) {
  static HeaderTable table;
  return table.Intern(std::move(head), std::move(tail));
}
