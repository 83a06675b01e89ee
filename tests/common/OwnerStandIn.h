#pragma once

#include <cstdint>
#include <future>
#include <mutex>
#include <vector>

#include "platform/Thread.h"
#include "platform/ThreadMessages.h"

namespace testing_support {

// The owner of an active object under test: a message thread that keeps every message it
// receives, in order.
class OwnerStandIn {
 public:
  OwnerStandIn() {
    thread_ = platform::Thread([this] {
      platform::MessageQueue queue;
      id_.set_value(platform::CurrentThreadId());
      platform::ThreadMessage message;
      while (queue.TakeMessage(message)) {
        std::lock_guard lock(mutex_);
        received_.push_back(message);
      }
    });
    threadId_ = id_.get_future().get();
  }
  ~OwnerStandIn() {
    // Refused only by a full queue, which no test fills.
    (void)platform::PostToThread(threadId_, platform::kQuitMessage, 0, 0);
    thread_.Join();
  }
  OwnerStandIn(const OwnerStandIn&) = delete;
  OwnerStandIn& operator=(const OwnerStandIn&) = delete;

  std::uint32_t Id() const { return threadId_; }

  std::vector<platform::ThreadMessage> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  std::promise<std::uint32_t> id_;
  std::uint32_t threadId_ = 0;
  std::mutex mutex_;
  std::vector<platform::ThreadMessage> received_;
  platform::Thread thread_;
};

}  // namespace testing_support
