#pragma once

#include <cstdint>

// Paces the probes of a large fleet: a token bucket that lets at most burst probes go at
// once and perSecond on average, so that gateways due together (all of them at start-up)
// go out spread over time rather than in one burst. Times are monotonic milliseconds.
class SendPacer {
 public:
  SendPacer(std::int64_t perSecond, std::int64_t burst) : perSecond_(perSecond), burst_(burst), tokens_(burst) {}

  // Takes one send if the bucket holds one at now.
  [[nodiscard]] bool Take(std::int64_t now);
  // When the next send will be allowed (now when it is already).
  std::int64_t NextAllowed(std::int64_t now);

 private:
  void Refill(std::int64_t now);

  std::int64_t perSecond_;
  std::int64_t burst_;
  std::int64_t tokens_;
  // A part-filled send in thousandths, so that the refill of a single millisecond is kept.
  std::int64_t milliTokens_ = 0;
  std::int64_t refilledAt_ = -1;
};
