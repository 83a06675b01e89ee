#include "keepalive/SendPacer.h"

#include <algorithm>

bool SendPacer::Take(std::int64_t now) {
  Refill(now);
  if (tokens_ == 0) return false;
  --tokens_;
  return true;
}

std::int64_t SendPacer::NextAllowed(std::int64_t now) {
  Refill(now);
  if (tokens_ > 0) return now;
  // The thousandths still missing to a whole send, at perSecond thousandths a millisecond.
  return now + (1000 - milliTokens_ + perSecond_ - 1) / perSecond_;
}

void SendPacer::Refill(std::int64_t now) {
  if (refilledAt_ < 0 || now <= refilledAt_) {
    refilledAt_ = std::max(refilledAt_, now);
    return;
  }
  milliTokens_ += (now - refilledAt_) * perSecond_;
  refilledAt_ = now;
  tokens_ = std::min(burst_, tokens_ + milliTokens_ / 1000);
  milliTokens_ = tokens_ == burst_ ? 0 : milliTokens_ % 1000;
}
