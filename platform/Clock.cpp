#include "platform/Clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

class MonotonicClock final : public Clock {
 public:
  uint32_t NowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                        static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
  void SleepMs(uint32_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

MonotonicClock g_monotonic;
std::atomic<Clock*> g_installed{nullptr};

}  // namespace

int64_t Clock::NowSeconds() { return static_cast<int64_t>(::time(nullptr)); }

int64_t Clock::MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

Clock& RealClock() { return g_monotonic; }

Clock& CurrentClock() {
  Clock* installed = g_installed.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : g_monotonic;
}

void InstallClock(Clock* clock) { g_installed.store(clock, std::memory_order_release); }

}  // namespace platform
