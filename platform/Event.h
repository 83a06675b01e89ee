#pragma once

#include <optional>
#include <utility>

#include "platform/UniqueFd.h"
#include "platform/WaitSet.h"

namespace platform {

enum class EventReset {
  kAuto,    // a wait that returns it resets it
  kManual,  // stays signalled until Reset
};

// The Windows event object over an eventfd. Signalled means the eventfd counter is non-zero;
// reading the counter clears it, so setting a set event changes nothing.
//
// Made through Create, which reports a failure of the system (descriptor limit) as an empty
// result rather than an exception: the callers have their own failure paths and texts.
// Movable; a thread must not move or destroy an event that another thread waits on.
class Event final : public Waitable {
 public:
  [[nodiscard]] static std::optional<Event> Create(EventReset reset, bool initiallySignalled);

  Event(Event&&) noexcept = default;
  Event& operator=(Event&&) noexcept = default;

  // SetEvent / ResetEvent. False only when the eventfd refuses the call, which a live
  // event never does: one Set at a time cannot overflow its counter.
  [[nodiscard]] bool Set();
  [[nodiscard]] bool Reset();
  // Set, for the holders of a live event, who have no failure to handle.
  void Signal() { (void)Set(); }
  // Whether it is signalled now, without taking it even when auto-reset.
  bool IsSignalled() const;

  EventReset Kind() const { return reset_; }
  int Fd() const { return fd_.Get(); }

 private:
  Event(UniqueFd fd, EventReset reset) : fd_(std::move(fd)), reset_(reset) {}

  [[nodiscard]] bool PrepareWait(std::vector<pollfd>& fds, detail::WaitSlot& slot, int wakeFd) override;
  [[nodiscard]] bool TryTake(std::span<const pollfd> fds, detail::WaitSlot& slot) override;

  UniqueFd fd_;
  EventReset reset_;
};

}  // namespace platform
