#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

// Thread message queues: each thread that runs a message loop owns one queue; any thread
// posts to it by thread id. Posting never blocks; a thread receives its messages in the
// order they were posted.

inline constexpr uint32_t kQuitMessage = 18;
// A queue holds at most this many messages; a post beyond it fails.
inline constexpr std::size_t kMessageQueueLimit = 10000;

struct ThreadMessage {
  uint32_t message = 0;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
};

// Identifier for a message name, in 0xC000..0xFFFF; equal names give equal identifiers
// for the whole process, whichever module asks. Returns 0 when the range is used up.
[[nodiscard]] uint32_t RegisterMessageName(std::string_view name);

// The Linux thread id (gettid) of the calling thread; never 0.
uint32_t CurrentThreadId();

// Appends a message to the queue of the thread. Fails when the thread has no queue (it
// has not started its loop, or has ended) or its queue is full.
[[nodiscard]] bool PostToThread(uint32_t threadId, uint32_t message, uint32_t wParam, uint32_t lParam);

class MessageQueueState;

// The calling thread's queue, registered for the lifetime of this object. Create it in the
// thread before that thread confirms its start, so that posts made after the confirmation
// find it. Not movable: it belongs to the thread that made it.
class MessageQueue {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Blocks until a message arrives. Returns false for the quit message (which is still stored in
  // message), true for any other.
  [[nodiscard]] bool TakeMessage(ThreadMessage& message);

  // Takes a message if one waits; false when the queue is empty.
  [[nodiscard]] bool TryTakeMessage(ThreadMessage& message);

 private:
  uint32_t threadId_;
  std::shared_ptr<MessageQueueState> state_;
};

}  // namespace platform
