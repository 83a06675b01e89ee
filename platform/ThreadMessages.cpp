#include "platform/ThreadMessages.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace platform {

class MessageQueueState {
 public:
  bool Post(const ThreadMessage& message) {
    {
      std::lock_guard lock(mutex_);
      if (messages_.size() >= kMessageQueueLimit) return false;
      messages_.push_back(message);
    }
    ready_.notify_one();
    return true;
  }

  ThreadMessage Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !messages_.empty(); });
    ThreadMessage message = messages_.front();
    messages_.pop_front();
    return message;
  }

  bool TryTake(ThreadMessage& message) {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<ThreadMessage> messages_;  // guarded by mutex_
};

namespace {

struct MessageNames {
  std::mutex mutex;
  std::unordered_map<std::string, uint32_t> ids;  // guarded by mutex
  uint32_t next = 0xC000;                          // guarded by mutex
};

MessageNames& Names() {
  static MessageNames names;  // first use may come from another module's static init
  return names;
}

struct QueueDirectory {
  std::shared_mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<MessageQueueState>> queues;  // guarded by mutex
};

QueueDirectory& Directory() {
  static QueueDirectory directory;
  return directory;
}

}  // namespace

uint32_t RegisterWindowMessage(std::string_view name) {
  MessageNames& names = Names();
  std::lock_guard lock(names.mutex);
  auto [it, inserted] = names.ids.try_emplace(std::string(name), 0);
  if (inserted) {
    if (names.next > 0xFFFF) {
      names.ids.erase(it);
      return 0;
    }
    it->second = names.next++;
  }
  return it->second;
}

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

bool PostThreadMessage(uint32_t threadId, uint32_t message, uint32_t wParam, uint32_t lParam) {
  std::shared_ptr<MessageQueueState> queue;
  {
    QueueDirectory& directory = Directory();
    std::shared_lock lock(directory.mutex);
    auto it = directory.queues.find(threadId);
    if (it == directory.queues.end()) return false;
    queue = it->second;
  }
  return queue->Post(ThreadMessage{message, wParam, lParam});
}

MessageQueue::MessageQueue()
    : threadId_(CurrentThreadId()), state_(std::make_shared<MessageQueueState>()) {
  QueueDirectory& directory = Directory();
  std::unique_lock lock(directory.mutex);
  directory.queues[threadId_] = state_;
}

MessageQueue::~MessageQueue() {
  QueueDirectory& directory = Directory();
  std::unique_lock lock(directory.mutex);
  auto it = directory.queues.find(threadId_);
  if (it != directory.queues.end() && it->second == state_) directory.queues.erase(it);
}

bool MessageQueue::GetMessage(ThreadMessage& message) {
  message = state_->Take();
  return message.message != WM_QUIT;
}

bool MessageQueue::PeekMessage(ThreadMessage& message) { return state_->TryTake(message); }

}  // namespace platform
