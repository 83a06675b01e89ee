#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/Clock.h"

namespace testing_support {

// A clock whose sleeps last a hundredth of the time asked, installed for its lifetime:
// minutes of pauses between tries pass in about a second, while the millisecond clock stays
// real, so bounds measured on it (a 3 s receive, a 3 s connect) keep their length.
// Install it before the threads that sleep on it start, and let them end before it goes.
class FastSleepClock final : public platform::Clock {
 public:
  static constexpr std::uint32_t kSpeedUp = 100;

  FastSleepClock() { platform::InstallClock(this); }
  ~FastSleepClock() override { platform::InstallClock(nullptr); }
  FastSleepClock(const FastSleepClock&) = delete;
  FastSleepClock& operator=(const FastSleepClock&) = delete;

  std::uint32_t NowMs() override { return platform::RealClock().NowMs(); }
  void SleepMs(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 / kSpeedUp));
  }
};

}  // namespace testing_support
