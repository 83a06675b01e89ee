#include "platform/ThreadMessages.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace platform {

// Posters append to incoming_ under the lock. The owner thread moves everything that has
// arrived into its own batch in one step and hands that out without the lock, so a busy
// queue costs the owner one lock per batch rather than per message.
class MessageQueueState {
 public:
  bool Post(const ThreadMessage& message) {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      // The owner's batch counts towards the limit until each message is handed out. Its
      // size at the last refill bounds it; the exact count is read only near the limit,
      // since it sits on the owner's cache line.
      if (incoming_.size() + batchAtRefill_ >= kMessageQueueLimit &&
          incoming_.size() + batchLeft_.load(std::memory_order_relaxed) >= kMessageQueueLimit) {
        return false;
      }
      incoming_.push_back(message);
      // A receiver that is busy will find the message on its own; a sleeping one needs one
      // wake-up, from the first poster that finds it asleep.
      wake = std::exchange(waiting_, false);
    }
    if (wake) ready_.notify_one();
    return true;
  }

  // Owner thread only.
  ThreadMessage Take() {
    if (batch_.empty()) {
      std::unique_lock lock(mutex_);
      batchAtRefill_ = 0;
      while (incoming_.empty()) {
        waiting_ = true;
        ready_.wait(lock);
        waiting_ = false;
      }
      RefillLocked();
    }
    return Pop();
  }

  // Owner thread only.
  bool TryTake(ThreadMessage& message) {
    if (batch_.empty()) {
      std::lock_guard lock(mutex_);
      batchAtRefill_ = 0;
      if (incoming_.empty()) return false;
      RefillLocked();
    }
    message = Pop();
    return true;
  }

 private:
  void RefillLocked() {
    batch_.swap(incoming_);
    batchAtRefill_ = batch_.size();
    batchLeft_.store(batch_.size(), std::memory_order_relaxed);
  }

  ThreadMessage Pop() {
    ThreadMessage message = batch_.front();
    batch_.pop_front();
    // Only this thread writes the count, so a plain store will do; posters may read a value
    // one message too high for a moment, never too low.
    batchLeft_.store(batch_.size(), std::memory_order_relaxed);
    return message;
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<ThreadMessage> incoming_;  // guarded by mutex_
  bool waiting_ = false;                // guarded by mutex_; the owner waits, not yet woken
  std::size_t batchAtRefill_ = 0;       // guarded by mutex_; never below batchLeft_

  // The owner's side, on a cache line of its own so that handing out a message does not
  // disturb posters.
  alignas(64) std::deque<ThreadMessage> batch_;  // owner thread only; older than incoming_
  // Messages in batch_; written by the owner thread, read by posters under mutex_.
  std::atomic<std::size_t> batchLeft_{0};
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
  // Bumped, under the exclusive lock, on every change of queues: a poster's cached lookups
  // stay valid while it reads the generation they were made in.
  std::atomic<uint64_t> generation{1};
};

QueueDirectory& Directory() {
  static QueueDirectory directory;
  return directory;
}

// The last few queues a thread posted to, so that a busy sender skips the directory lock.
// The cached references keep a removed queue's state alive only until the next post from
// this thread sees the new generation.
struct LookupCache {
  struct Entry {
    uint32_t threadId = 0;
    std::shared_ptr<MessageQueueState> queue;
  };
  uint64_t generation = 0;
  std::array<Entry, 4> entries;
  std::size_t next = 0;

  void Reset(uint64_t current) {
    for (Entry& entry : entries) entry = Entry{};
    generation = current;
    next = 0;
  }
};

thread_local LookupCache t_lookups;

// The queue of the thread, or nullptr. The pointer stays valid until this thread's next
// lookup, held by its cache entry: no reference count is touched on a hit.
MessageQueueState* FindQueue(uint32_t threadId) {
  QueueDirectory& directory = Directory();
  LookupCache& cache = t_lookups;
  if (cache.generation == directory.generation.load(std::memory_order_acquire)) {
    for (const LookupCache::Entry& entry : cache.entries) {
      if (entry.queue && entry.threadId == threadId) return entry.queue.get();
    }
  }
  std::shared_ptr<MessageQueueState> queue;
  uint64_t generation = 0;
  {
    std::shared_lock lock(directory.mutex);
    auto it = directory.queues.find(threadId);
    if (it == directory.queues.end()) return nullptr;
    queue = it->second;
    generation = directory.generation.load(std::memory_order_relaxed);
  }
  if (cache.generation != generation) cache.Reset(generation);
  MessageQueueState* found = queue.get();
  cache.entries[cache.next] = LookupCache::Entry{threadId, std::move(queue)};
  cache.next = (cache.next + 1) % cache.entries.size();
  return found;
}

}  // namespace

uint32_t RegisterMessageName(std::string_view name) {
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

bool PostToThread(uint32_t threadId, uint32_t message, uint32_t wParam, uint32_t lParam) {
  MessageQueueState* queue = FindQueue(threadId);
  if (queue == nullptr) return false;
  return queue->Post(ThreadMessage{message, wParam, lParam});
}

MessageQueue::MessageQueue()
    : threadId_(CurrentThreadId()), state_(std::make_shared<MessageQueueState>()) {
  QueueDirectory& directory = Directory();
  std::unique_lock lock(directory.mutex);
  directory.queues[threadId_] = state_;
  directory.generation.fetch_add(1, std::memory_order_release);
}

MessageQueue::~MessageQueue() {
  QueueDirectory& directory = Directory();
  std::unique_lock lock(directory.mutex);
  auto it = directory.queues.find(threadId_);
  if (it != directory.queues.end() && it->second == state_) {
    directory.queues.erase(it);
    directory.generation.fetch_add(1, std::memory_order_release);
  }
}

bool MessageQueue::TakeMessage(ThreadMessage& message) {
  message = state_->Take();
  return message.message != kQuitMessage;
}

bool MessageQueue::TryTakeMessage(ThreadMessage& message) { return state_->TryTake(message); }

}  // namespace platform
