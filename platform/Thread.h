#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

// An owned thread: started by the constructor, joined by Join or by the destructor, never
// detached. Its Linux thread id is known when the constructor returns, as the id that
// CreateThread hands back.
class Thread {
 public:
  Thread() = default;
  // Throws std::system_error when the thread cannot be created.
  explicit Thread(std::function<void()> body);
  Thread(Thread&&) noexcept = default;
  Thread& operator=(Thread&& other) noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();

  bool Joinable() const { return thread_.joinable(); }
  uint32_t Id() const { return id_; }
  // Waits without time-out for the thread to end. Joining from the thread itself is a
  // programming error and terminates.
  void Join();

 private:
  std::thread thread_;
  uint32_t id_ = 0;
};

// Lowers (negative steps) the scheduling priority of a thread: each step below normal
// adds 5 to its nice value, relative to the process's. Returns false when it cannot be set.
[[nodiscard]] bool SetThreadPriority(uint32_t threadId, int steps);

// For tests of what a failed start leaves behind: the nth thread started from now on (1 is
// the next) fails as when the system has no thread left to give. 0 cancels.
void FailThreadStart(int nth);

}  // namespace platform
