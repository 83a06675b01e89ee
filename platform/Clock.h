#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// The millisecond clock and the sleeper behind every periodic wait of the service. Tests
// install their own to run 100 ms ticks and multi-second intervals without waiting.
class Clock {
 public:
  virtual ~Clock() = default;
  // How long a sleep of ms lasts in real time: waits kept as timers (the delivery's pauses
  // between tries) last as long as a sleep would.
  virtual std::chrono::microseconds SleepLength(uint32_t ms) { return std::chrono::milliseconds(ms); }
  // Milliseconds on a monotonic clock, cut to 32 bits: it wraps like the Windows tick
  // count, so intervals are computed by unsigned subtraction.
  virtual uint32_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // Calendar time in whole seconds since the epoch. An operator or NTP may step it either
  // way, so nothing that measures an interval reads it.
  virtual int64_t NowSeconds();
  // Milliseconds on the monotonic clock, in 64 bits: never steps and never wraps. The
  // keep-alive's probe intervals and answer windows run on it.
  virtual int64_t MonotonicMs();
};

// The clock in force: the real monotonic clock unless a test installed another.
Clock& CurrentClock();

// Installs a clock for the whole process (nullptr restores the real one). The caller keeps
// it alive while installed. Meant for tests; not synchronised with threads that use it.
void InstallClock(Clock* clock);

// The real clock, always, for code that measures real time whatever is installed.
Clock& RealClock();

inline uint32_t TickCount() { return CurrentClock().NowMs(); }
inline void Sleep(uint32_t ms) { CurrentClock().SleepMs(ms); }

}  // namespace platform
