#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// Asks done every few milliseconds until it holds or timeout has passed: true once it held.
// For conditions that other threads or processes bring about in their own time.
template <class Done>
bool Eventually(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; !done();) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testing_support
