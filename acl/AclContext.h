#pragma once

#include <atomic>

class CNacHttpClient;

// What the rule walks need of the controller: its end flag, which ends every walk early,
// and its delivery dispatcher (none when it could not be made).
struct AclContext {
  const std::atomic<int>& endFlag;
  CNacHttpClient* httpClient = nullptr;

  bool Ended() const { return endFlag.load(std::memory_order_relaxed) != 0; }
};
