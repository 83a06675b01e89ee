#include "msgthread/MessageThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "msgthread/OwnerThread.h"
#include "platform/Clock.h"
#include "platform/ThreadMessages.h"

namespace {

using platform::CurrentThreadId;
using platform::PostToThread;
using platform::ThreadMessage;
using namespace std::chrono_literals;

constexpr MessageThreadTexts kTexts{"test event text", "test thread text", nullptr};

// Records what the thread does; the clock records its sleeps into the same trace.
class Recorder final : public MessageThread::Handler, public platform::Clock {
 public:
  void OnCreate() override {
    std::this_thread::sleep_for(30ms);
    Add("create on " + std::to_string(CurrentThreadId()));
  }
  void OnMessage(const ThreadMessage& message) override {
    std::lock_guard lock(mutex_);
    handled.push_back(message);
    changed_.notify_all();
  }
  void OnClose() override {
    Add("close on " + std::to_string(CurrentThreadId()) + " after " +
        std::to_string(handled.size()));
  }
  uint32_t NowMs() override { return platform::RealClock().NowMs(); }
  void SleepMs(uint32_t ms) override { Add("sleep " + std::to_string(ms)); }

  void Add(const std::string& event) {
    std::lock_guard lock(mutex_);
    trace.push_back(event);
  }
  bool WaitForHandled(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return handled.size() >= count; });
  }

  std::vector<std::string> trace;
  std::vector<ThreadMessage> handled;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

class MessageThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstallClock(&recorder_); }
  void TearDown() override { platform::InstallClock(nullptr); }
  Recorder recorder_;
};

TEST_F(MessageThreadTest, ConstructionWaitsForStartWorkThenATenthOfASecond) {
  MessageThread thread(recorder_, kTexts);
  recorder_.Add("constructed");
  EXPECT_NE(thread.Id(), CurrentThreadId());
  EXPECT_EQ(recorder_.trace,
            (std::vector<std::string>{"create on " + std::to_string(thread.Id()), "sleep 100", "constructed"}));
}

TEST_F(MessageThreadTest, DestructionHandlesWaitingMessagesClosesOnceAndJoins) {
  auto thread = std::make_unique<MessageThread>(recorder_, kTexts);
  const uint32_t id = thread->Id();
  for (uint32_t i = 0; i < 100; ++i) ASSERT_TRUE(PostToThread(id, 0xC222, i, 0));
  thread.reset();
  EXPECT_EQ(recorder_.trace.back(), "close on " + std::to_string(id) + " after 100");
  EXPECT_EQ(std::ranges::count_if(recorder_.trace, [](auto& e) { return e.starts_with("close"); }), 1);
  EXPECT_FALSE(PostToThread(id, 0xC222, 0, 0)) << "the thread's queue is gone";
}

TEST_F(MessageThreadTest, PostMessageMainThreadGoesToTheSavedOwnerOnly) {
  class Reporter final : public OwnerThread {
  } reporter;
  platform::MessageQueue queue;  // a post to this thread would land here
  EXPECT_FALSE(reporter.PostMessageMainThread(0xC333, 1, 2));
  reporter.SaveThreadID(CurrentThreadId());
  reporter.SaveThreadID(0);
  EXPECT_FALSE(reporter.PostMessageMainThread(0xC333, 1, 2));
  ThreadMessage message;
  EXPECT_FALSE(queue.TryTakeMessage(message));

  MessageThread owner(recorder_, kTexts);
  reporter.SaveThreadID(owner.Id());
  std::thread([&] { EXPECT_TRUE(reporter.PostMessageMainThread(0xC444, 7, 9)); }).join();
  ASSERT_TRUE(recorder_.WaitForHandled(1));
  EXPECT_EQ(recorder_.handled[0].message, 0xC444u);
}

}  // namespace
