#include "platform/ThreadMessages.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::CurrentThreadId;
using platform::kMessageQueueLimit;
using platform::MessageQueue;
using platform::PostThreadMessage;
using platform::RegisterWindowMessage;
using platform::ThreadMessage;
using platform::WM_QUIT;
using namespace std::chrono_literals;

bool InRegisteredRange(uint32_t id) { return id >= 0xC000 && id <= 0xFFFF; }

// A thread that makes its queue, reports its id and then waits until told to end.
class QueueThread {
 public:
  QueueThread() {
    std::promise<uint32_t> started;
    std::future<uint32_t> id = started.get_future();
    thread_ = std::thread([this, started = std::move(started)]() mutable {
      MessageQueue queue;
      started.set_value(CurrentThreadId());
      end_.get_future().wait();
    });
    id_ = id.get();
  }
  ~QueueThread() { End(); }

  uint32_t Id() const { return id_; }
  void End() {
    if (!thread_.joinable()) return;
    end_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> end_;
  std::thread thread_;
  uint32_t id_ = 0;
};

TEST(ThreadMessagesTest, EqualNamesGiveEqualIdsInTheRegisteredRange) {
  const uint32_t first = RegisterWindowMessage("TMTEST:WM_SAME");
  const uint32_t again = RegisterWindowMessage(std::string("TMTEST:") + "WM_SAME");
  EXPECT_TRUE(InRegisteredRange(first)) << first;
  EXPECT_EQ(first, again);

  // Another thread asking for the same name meets the same identifier.
  uint32_t fromThread = 0;
  std::thread other([&fromThread] { fromThread = RegisterWindowMessage("TMTEST:WM_SAME"); });
  other.join();
  EXPECT_EQ(fromThread, first);
}

TEST(ThreadMessagesTest, DistinctNamesGiveDistinctIds) {
  std::set<uint32_t> ids;
  for (int i = 0; i < 50; ++i) {
    const uint32_t id = RegisterWindowMessage("TMTEST:WM_DISTINCT_" + std::to_string(i));
    EXPECT_TRUE(InRegisteredRange(id)) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 50u);
  EXPECT_EQ(ids.count(RegisterWindowMessage("TMTEST:WM_OTHER")), 0u);
}

// Threads registering overlapping names at once still agree on every identifier.
TEST(ThreadMessagesTest, ConcurrentRegistrationsAgree) {
  constexpr int kThreads = 4;
  constexpr int kNames = 40;
  std::vector<std::vector<uint32_t>> seen(kThreads, std::vector<uint32_t>(kNames));
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int n = 0; n < kNames; ++n) {
        const int name = (t % 2 == 0) ? n : kNames - 1 - n;  // half of them walk backwards
        seen[t][name] = RegisterWindowMessage("TMTEST:WM_RACE_" + std::to_string(name));
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  std::set<uint32_t> distinct;
  for (int n = 0; n < kNames; ++n) {
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t][n], seen[0][n]) << "name " << n;
    distinct.insert(seen[0][n]);
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kNames));
}

TEST(ThreadMessagesTest, ThreadIdIsTheLinuxThreadIdAndDiffersBetweenThreads) {
  const uint32_t mine = CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(mine, static_cast<uint32_t>(::syscall(SYS_gettid)));
  uint32_t other = 0;
  std::thread thread([&other] { other = CurrentThreadId(); });
  thread.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(ThreadMessagesTest, PostToAThreadWithoutQueueFails) {
  // This thread has no queue (yet); neither has an id no thread holds.
  EXPECT_FALSE(PostThreadMessage(CurrentThreadId(), 0xC123, 1, 2));
  EXPECT_FALSE(PostThreadMessage(0, 0xC123, 1, 2));

  uint32_t plainThread = 0;
  std::promise<void> release;
  std::promise<void> ready;
  std::thread plain([&] {
    plainThread = CurrentThreadId();
    ready.set_value();
    release.get_future().wait();
  });
  ready.get_future().wait();
  EXPECT_FALSE(PostThreadMessage(plainThread, 0xC123, 1, 2));
  release.set_value();
  plain.join();
}

TEST(ThreadMessagesTest, PostedMessageArrivesWithItsParameters) {
  MessageQueue queue;
  ASSERT_TRUE(PostThreadMessage(CurrentThreadId(), 0xC456, 0xDEADBEEF, 0x01020304));
  ThreadMessage message;
  ASSERT_TRUE(queue.PeekMessage(message));
  EXPECT_EQ(message.message, 0xC456u);
  EXPECT_EQ(message.wParam, 0xDEADBEEFu);
  EXPECT_EQ(message.lParam, 0x01020304u);
  EXPECT_FALSE(queue.PeekMessage(message)) << "a message is taken only once";
}

TEST(ThreadMessagesTest, GetMessageBlocksUntilAMessageArrives) {
  std::promise<uint32_t> idPromise;
  std::future<uint32_t> id = idPromise.get_future();
  std::atomic<bool> received{false};
  ThreadMessage got;
  std::thread receiver([&] {
    MessageQueue queue;
    idPromise.set_value(CurrentThreadId());
    queue.GetMessage(got);
    received.store(true);
  });
  const uint32_t receiverId = id.get();
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(received.load()) << "GetMessage returned without a message";
  ASSERT_TRUE(PostThreadMessage(receiverId, 0xC789, 7, 8));
  receiver.join();
  EXPECT_TRUE(received.load());
  EXPECT_EQ(got.message, 0xC789u);
  EXPECT_EQ(got.wParam, 7u);
  EXPECT_EQ(got.lParam, 8u);
}

TEST(ThreadMessagesTest, GetMessageReturnsFalseOnlyForQuit) {
  MessageQueue queue;
  const uint32_t self = CurrentThreadId();
  ASSERT_TRUE(PostThreadMessage(self, 0, 1, 1));
  ASSERT_TRUE(PostThreadMessage(self, platform::WM_TIMER, 2, 2));
  ASSERT_TRUE(PostThreadMessage(self, WM_QUIT, 3, 4));
  ASSERT_TRUE(PostThreadMessage(self, 0xC001, 5, 5));

  ThreadMessage message;
  EXPECT_TRUE(queue.GetMessage(message));
  EXPECT_EQ(message.message, 0u);
  EXPECT_TRUE(queue.GetMessage(message));
  EXPECT_EQ(message.message, platform::WM_TIMER);
  EXPECT_FALSE(queue.GetMessage(message));
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_EQ(message.lParam, 4u);
  // The quit message ends a loop, not the queue.
  EXPECT_TRUE(queue.GetMessage(message));
  EXPECT_EQ(message.message, 0xC001u);
}

// Two senders post at once while the receiver takes: each sender's messages arrive in the
// order it posted them, and none is lost or doubled.
TEST(ThreadMessagesTest, EachSendersOrderIsKept) {
  constexpr uint32_t kPerSender = 4000;  // both together stay under the queue limit
  constexpr uint32_t kMessage = 0xC0DE;
  std::promise<uint32_t> idPromise;
  std::future<uint32_t> id = idPromise.get_future();
  std::vector<std::vector<uint32_t>> bySender(2);
  bool wrongMessage = false;
  std::thread receiver([&] {
    MessageQueue queue;
    idPromise.set_value(CurrentThreadId());
    ThreadMessage message;
    while (queue.GetMessage(message)) {
      if (message.message != kMessage || message.wParam > 1) {
        wrongMessage = true;
        continue;
      }
      bySender[message.wParam].push_back(message.lParam);
    }
  });
  const uint32_t receiverId = id.get();

  std::atomic<bool> go{false};
  std::atomic<int> failedPosts{0};
  std::vector<std::thread> senders;
  for (uint32_t s = 0; s < 2; ++s) {
    senders.emplace_back([&, s] {
      while (!go.load()) std::this_thread::yield();
      for (uint32_t i = 0; i < kPerSender; ++i) {
        if (!PostThreadMessage(receiverId, kMessage, s, i)) failedPosts.fetch_add(1);
      }
    });
  }
  go.store(true);
  for (std::thread& sender : senders) sender.join();
  ASSERT_TRUE(PostThreadMessage(receiverId, WM_QUIT, 0, 0));
  receiver.join();

  EXPECT_EQ(failedPosts.load(), 0);
  EXPECT_FALSE(wrongMessage);
  for (uint32_t s = 0; s < 2; ++s) {
    ASSERT_EQ(bySender[s].size(), kPerSender) << "sender " << s;
    for (uint32_t i = 0; i < kPerSender; ++i) {
      ASSERT_EQ(bySender[s][i], i) << "sender " << s << " position " << i;
    }
  }
}

TEST(ThreadMessagesTest, QueueHoldsAtMostTenThousandMessages) {
  ASSERT_EQ(kMessageQueueLimit, 10000u);
  MessageQueue queue;
  const uint32_t self = CurrentThreadId();
  for (uint32_t i = 0; i < 10000; ++i) {
    ASSERT_TRUE(PostThreadMessage(self, 0xC100, i, 0)) << "post " << i;
  }
  EXPECT_FALSE(PostThreadMessage(self, 0xC100, 10000, 0));
  EXPECT_FALSE(PostThreadMessage(self, WM_QUIT, 0, 0)) << "the quit message has no way round the limit";

  // Taking one makes room for exactly one more, which queues behind the others.
  ThreadMessage message;
  ASSERT_TRUE(queue.GetMessage(message));
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_TRUE(PostThreadMessage(self, 0xC100, 10001, 0));
  EXPECT_FALSE(PostThreadMessage(self, 0xC100, 10002, 0));

  uint32_t count = 0;
  uint32_t last = 0;
  while (queue.PeekMessage(message)) {
    ++count;
    last = message.wParam;
  }
  EXPECT_EQ(count, 10000u);
  EXPECT_EQ(last, 10001u);
}

TEST(ThreadMessagesTest, PostAfterTheQueueThreadEndedFails) {
  QueueThread thread;
  const uint32_t id = thread.Id();
  EXPECT_TRUE(PostThreadMessage(id, 0xC200, 0, 0));
  thread.End();
  EXPECT_FALSE(PostThreadMessage(id, 0xC200, 0, 0));
}

TEST(ThreadMessagesTest, PostAfterTheQueueWasDestroyedFails) {
  const uint32_t self = CurrentThreadId();
  {
    MessageQueue queue;
    EXPECT_TRUE(PostThreadMessage(self, 0xC300, 0, 0));
  }
  EXPECT_FALSE(PostThreadMessage(self, 0xC300, 0, 0));

  // A new queue of the same thread starts empty.
  MessageQueue again;
  ThreadMessage message;
  EXPECT_FALSE(again.PeekMessage(message));
  EXPECT_TRUE(PostThreadMessage(self, 0xC300, 9, 0));
  ASSERT_TRUE(again.PeekMessage(message));
  EXPECT_EQ(message.wParam, 9u);
}

}  // namespace
