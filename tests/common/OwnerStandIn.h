#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
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

  // The first message with this identifier, waiting for it at most timeout.
  std::optional<platform::ThreadMessage> Await(std::uint32_t message,
                                               std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout;;) {
      {
        std::lock_guard lock(mutex_);
        for (const platform::ThreadMessage& m : received_) {
          if (m.message == message) return m;
        }
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
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
