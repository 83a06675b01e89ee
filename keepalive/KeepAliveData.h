#pragma once

#include <atomic>
#include <cstdint>

#include "list/NacListItem.h"

// One gateway address (network byte order) queued as a keep-alive start or stop request,
// or as a probe job.
class CKeepAliveData final : public CNacListItem {
 public:
  CKeepAliveData() = default;
  explicit CKeepAliveData(uint32_t address) : address_(address), sequence_(NextSequence()) {}

  uint32_t Address() const { return address_; }
  void SetAddress(uint32_t address) { address_ = address; }
  // The order in which the reports were made, across both request lists: the start and
  // stop requests of one gateway are taken by two threads and must act in this order.
  uint64_t Sequence() const { return sequence_; }

 private:
  static uint64_t NextSequence() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
  }

  uint32_t address_ = 0;
  uint64_t sequence_ = 0;
};
