#include "platform/Thread.h"

#include <sys/resource.h>

#include <cerrno>
#include <future>
#include <utility>

#include "platform/ThreadMessages.h"

namespace platform {

Thread::Thread(std::function<void()> body) {
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
