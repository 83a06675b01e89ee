#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// Results of WaitForAny besides the index of the signalled object.
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

namespace detail {

class WaitRunner;

// What one object of a wait set put into the poll set for one round of the wait.
struct WaitSlot {
  std::size_t first = 0;    // index of its first pollfd
  std::size_t count = 0;    // how many pollfds it added
  uint64_t generation = 0;  // the object's state when the round was prepared
  unsigned interest = 0;    // what the object watches for in this round
  bool registered = false;  // the waiting thread is known to the object
  int wakeFd = -1;          // that thread's wake descriptor, once registered
};

}  // namespace detail

// Something a thread can wait for beside others in WaitForAny: an Event or a SocketEvent.
// The wait works through the hooks below, which only WaitForAny calls.
class Waitable {
 public:
  virtual ~Waitable() = default;

 protected:
  Waitable() = default;
  Waitable(const Waitable&) = default;
  Waitable& operator=(const Waitable&) = default;
  Waitable(Waitable&&) noexcept = default;
  Waitable& operator=(Waitable&&) noexcept = default;

 private:
  friend class detail::WaitRunner;

  // Appends the descriptors to poll for this round. wakeFd belongs to the waiting thread;
  // an object whose state other threads change writes to it to wake the wait. Returns
  // true when the object is signalled already, so the poll must not block.
  [[nodiscard]] virtual bool PrepareWait(std::vector<pollfd>& fds, detail::WaitSlot& slot, int wakeFd) = 0;
  // Takes in what the poll reported for this object's descriptors. Consumes nothing.
  virtual void AfterPoll(std::span<const pollfd> fds, detail::WaitSlot& slot) {
    (void)fds;
    (void)slot;
  }
  // True when the object is signalled; an auto-reset object is reset by this call, and
  // only when it returns true.
  [[nodiscard]] virtual bool TryTake(std::span<const pollfd> fds, detail::WaitSlot& slot) = 0;
  // The wait is over (for whatever reason).
  virtual void EndWait(detail::WaitSlot& slot, int wakeFd) {
    (void)slot;
    (void)wakeFd;
  }
};

// WaitForMultipleObjects with wait-any: blocks until one of the objects is signalled or the
// time-out (milliseconds; nullopt for none) has run out. Returns the lowest
// index among the signalled objects and resets that object alone if it is auto-reset;
// kWaitTimeout when time ran out; kWaitFailed when the set is empty, holds a null pointer,
// or the poll failed (errno tells why). The time-out runs on the real monotonic clock,
// whatever clock a test installed.
[[nodiscard]] int WaitForAny(std::span<Waitable* const> objects, std::optional<uint32_t> timeoutMs);
[[nodiscard]] int WaitForAny(std::initializer_list<Waitable*> objects, std::optional<uint32_t> timeoutMs);

// WaitForSingleObject: 0 when the object was signalled (and taken), or as WaitForAny.
[[nodiscard]] int WaitForOne(Waitable& object, std::optional<uint32_t> timeoutMs);

}  // namespace platform
