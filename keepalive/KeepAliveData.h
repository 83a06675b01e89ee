#pragma once

#include <cstdint>

#include "list/NacListItem.h"

// One gateway address (network byte order) queued as a keep-alive start or stop request,
// or as a probe job.
class CKeepAliveData final : public CNacListItem {
 public:
  CKeepAliveData() = default;
  explicit CKeepAliveData(uint32_t address) : address_(address) {}

  uint32_t Address() const { return address_; }
  void SetAddress(uint32_t address) { address_ = address; }

 private:
  uint32_t address_ = 0;
};
