#include "platform/WaitSet.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/Clock.h"
#include "platform/UniqueFd.h"

namespace platform {
namespace detail {
namespace {

// One wake descriptor per waiting thread, made on its first wait and closed when the
// thread ends. It is per thread, not per object, so that one waiter draining it can never
// swallow the wake meant for another thread waiting on the same object.
int ThreadWakeFd() {
  thread_local UniqueFd wake;
  if (!wake) wake.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  return wake.Get();
}

void Drain(int fd) {
  uint64_t value = 0;
  while (read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

}  // namespace

class WaitRunner {
 public:
  static int Run(std::span<Waitable* const> objects, std::optional<uint32_t> timeoutMs) {
    if (objects.empty()) {
      errno = EINVAL;
      return kWaitFailed;
    }
    for (Waitable* object : objects) {
      if (object == nullptr) {
        errno = EINVAL;
        return kWaitFailed;
      }
    }
    const bool timed = timeoutMs.has_value();
    const uint32_t limit = timed ? *timeoutMs : 0;
    const int wakeFd = ThreadWakeFd();
    if (wakeFd < 0) return kWaitFailed;

    std::vector<WaitSlot> slots(objects.size());
    // Every object hears that the wait is over, however it ends.
    struct EndAll {
      std::span<Waitable* const> objects;
      std::vector<WaitSlot>& slots;
      int wakeFd;
      ~EndAll() {
        for (std::size_t i = 0; i < objects.size(); ++i) objects[i]->EndWait(slots[i], wakeFd);
      }
    } endAll{objects, slots, wakeFd};

    Clock& clock = RealClock();
    const uint32_t start = clock.NowMs();
    std::vector<pollfd> fds;
    for (;;) {
      fds.clear();
      fds.push_back(pollfd{wakeFd, POLLIN, 0});
      bool ready = false;
      for (std::size_t i = 0; i < objects.size(); ++i) {
        slots[i].first = fds.size();
        if (objects[i]->PrepareWait(fds, slots[i], wakeFd)) ready = true;
        slots[i].count = fds.size() - slots[i].first;
      }

      int pollTimeout = -1;
      if (ready) {
        pollTimeout = 0;
      } else if (timed) {
        const uint32_t elapsed = clock.NowMs() - start;
        const uint32_t left = elapsed >= limit ? 0 : limit - elapsed;
        pollTimeout = left > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
      }

      const int rc = poll(fds.data(), fds.size(), pollTimeout);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return kWaitFailed;
      }
      // Drained only when it fired, and before the objects look at their state again: a
      // change made after this point shows in the next preparation or wakes the next poll.
      // A wake left over from an earlier wait costs one extra round, not a lost event.
      if ((fds[0].revents & POLLIN) != 0) Drain(wakeFd);
      if (rc > 0 || ready) {
        const std::span<const pollfd> all(fds);
        for (std::size_t i = 0; i < objects.size(); ++i) {
          objects[i]->AfterPoll(all.subspan(slots[i].first, slots[i].count), slots[i]);
        }
        for (std::size_t i = 0; i < objects.size(); ++i) {
          if (objects[i]->TryTake(all.subspan(slots[i].first, slots[i].count), slots[i])) {
            return static_cast<int>(i);
          }
        }
      }
      if (timed && clock.NowMs() - start >= limit) return kWaitTimeout;
    }
  }
};

}  // namespace detail

int WaitForAny(std::span<Waitable* const> objects, std::optional<uint32_t> timeoutMs) {
  return detail::WaitRunner::Run(objects, timeoutMs);
}

int WaitForAny(std::initializer_list<Waitable*> objects, std::optional<uint32_t> timeoutMs) {
  return detail::WaitRunner::Run(std::span<Waitable* const>(objects.begin(), objects.size()),
                                 timeoutMs);
}

int WaitForOne(Waitable& object, std::optional<uint32_t> timeoutMs) {
  Waitable* const objects[] = {&object};
  return detail::WaitRunner::Run(objects, timeoutMs);
}

}  // namespace platform
