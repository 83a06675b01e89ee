#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Clock.h"

namespace testing_support {

// A clock whose calendar seconds a test moves by hand, installed for its lifetime; the
// millisecond clocks and sleeps stay real, so 100 ms ticks still tick. The 64-bit monotonic
// one may be moved on by hand, so that a test need not wait out an interval.
class ManualClock final : public platform::Clock {
 public:
  explicit ManualClock(std::int64_t seconds = 1'000'000) : seconds_(seconds) { platform::InstallClock(this); }
  ~ManualClock() override { platform::InstallClock(nullptr); }
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  std::uint32_t NowMs() override { return platform::RealClock().NowMs(); }
  void SleepMs(std::uint32_t ms) override { platform::RealClock().SleepMs(ms); }
  std::int64_t NowSeconds() override { return seconds_.load(); }
  std::int64_t MonotonicMs() override { return platform::RealClock().MonotonicMs() + monotonicOffset_.load(); }

  // Calendar seconds, forward or back.
  void Advance(std::int64_t seconds) { seconds_ += seconds; }
  // The monotonic clock, forward only, as time itself would move it.
  void AdvanceMonotonicMs(std::int64_t ms) { monotonicOffset_ += ms; }

 private:
  std::atomic<std::int64_t> seconds_;
  std::atomic<std::int64_t> monotonicOffset_{0};
};

}  // namespace testing_support
