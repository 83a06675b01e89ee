#include "platform/Thread.h"

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <system_error>
#include <utility>

#include "platform/ThreadMessages.h"

namespace platform {

namespace {

std::atomic<int> startsBeforeFailure{0};

// Counts a start down to the failing one.
bool StartFails() {
  int left = startsBeforeFailure.load();
  while (left > 0 && !startsBeforeFailure.compare_exchange_weak(left, left - 1)) {
  }
  return left == 1;
}

}  // namespace

void FailThreadStart(int nth) { startsBeforeFailure.store(nth); }

Thread::Thread(std::function<void()> body) {
  if (StartFails()) throw std::system_error(EAGAIN, std::generic_category(), "thread start refused");
  // The promise's shared state outlives this frame, so the new thread may still be inside
  // set_value when the constructor returns.
  std::promise<uint32_t> started;
  std::future<uint32_t> id = started.get_future();
  thread_ = std::thread([started = std::move(started), body = std::move(body)]() mutable {
    started.set_value(CurrentThreadId());
    body();
  });
  id_ = id.get();
}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    Join();
    thread_ = std::move(other.thread_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

Thread::~Thread() { Join(); }

void Thread::Join() {
  if (thread_.joinable()) thread_.join();
}

bool SetThreadPriority(uint32_t threadId, int steps) {
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  if (base == -1 && errno != 0) return false;
  int nice = base - steps * 5;
  if (nice > 19) nice = 19;
  return setpriority(PRIO_PROCESS, threadId, nice) == 0;
}

}  // namespace platform
