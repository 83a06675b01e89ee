#include "control/MessageThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control/OwnerThread.h"
#include "control/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/ThreadMessages.h"

namespace {

using platform::CurrentThreadId;
using platform::PostThreadMessage;
using platform::ThreadMessage;
using namespace std::chrono_literals;

constexpr MessageThreadTexts kTexts{"test event text", "test thread text", nullptr};

// What happened, in the order it happened, whichever thread it happened on.
class Trace {
 public:
  void Add(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// Records each sleep instead of sleeping, so the settling time after start costs nothing.
class RecordingClock final : public platform::Clock {
 public:
  explicit RecordingClock(Trace& trace) : trace_(trace) {}
  uint32_t NowMs() override { return platform::RealClock().NowMs(); }
  void SleepMs(uint32_t ms) override { trace_.Add("sleep " + std::to_string(ms)); }

 private:
  Trace& trace_;
};

struct Handled {
  ThreadMessage message;
  uint32_t thread;
};

class Recorder final : public MessageThread::Handler {
 public:
  explicit Recorder(Trace* trace = nullptr, std::chrono::milliseconds startWork = 0ms, bool quitDuringStart = false)
      : trace_(trace), startWork_(startWork), quitDuringStart_(quitDuringStart) {}

  void OnCreate() override {
    if (trace_ != nullptr) trace_->Add("create begin");
    std::this_thread::sleep_for(startWork_);
    std::lock_guard lock(mutex_);
    createThread_ = CurrentThreadId();
    if (quitDuringStart_) quitPostedDuringStart_ = PostThreadMessage(CurrentThreadId(), platform::WM_QUIT, 0, 0);
    if (trace_ != nullptr) trace_->Add("create end");
  }
  void OnMessage(const ThreadMessage& message) override {
    std::lock_guard lock(mutex_);
    handled_.push_back({message, CurrentThreadId()});
    changed_.notify_all();
  }
  void OnClose() override {
    std::lock_guard lock(mutex_);
    ++closes_;
    closeThread_ = CurrentThreadId();
    handledAtClose_ = handled_.size();
    changed_.notify_all();
  }

  bool WaitForHandled(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 2s, [&] { return handled_.size() >= count; });
  }
  bool WaitForClose() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 2s, [&] { return closes_ > 0; });
  }
  std::vector<Handled> HandledMessages() {
    std::lock_guard lock(mutex_);
    return handled_;
  }
  int Closes() {
    std::lock_guard lock(mutex_);
    return closes_;
  }
  uint32_t CreateThread() {
    std::lock_guard lock(mutex_);
    return createThread_;
  }
  uint32_t CloseThread() {
    std::lock_guard lock(mutex_);
    return closeThread_;
  }
  std::size_t HandledAtClose() {
    std::lock_guard lock(mutex_);
    return handledAtClose_;
  }
  bool QuitPostedDuringStart() {
    std::lock_guard lock(mutex_);
    return quitPostedDuringStart_;
  }

 private:
  Trace* trace_;
  std::chrono::milliseconds startWork_;
  bool quitDuringStart_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Handled> handled_;
  int closes_ = 0;
  uint32_t createThread_ = 0;
  uint32_t closeThread_ = 0;
  std::size_t handledAtClose_ = 0;
  bool quitPostedDuringStart_ = false;
};

class Reporter final : public OwnerThread {};

class MessageThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstallClock(&clock_); }
  void TearDown() override { platform::InstallClock(nullptr); }

  Trace trace_;
  RecordingClock clock_{trace_};
};

TEST_F(MessageThreadTest, ConstructionReturnsAfterStartWorkAndTheSettlingSleep) {
  Recorder recorder(&trace_, 30ms);
  MessageThread thread(recorder, kTexts);
  trace_.Add("constructed");

  EXPECT_EQ(trace_.Events(), (std::vector<std::string>{"create begin", "create end", "sleep 100", "constructed"}));
  EXPECT_NE(thread.Id(), 0u);
  EXPECT_EQ(recorder.CreateThread(), thread.Id()) << "start work runs on the object's own thread";
  EXPECT_NE(thread.Id(), CurrentThreadId());
  EXPECT_TRUE(thread.Running());
}

TEST(MessageThreadRealClockTest, ConstructionTakesStartWorkPlusATenthOfASecond) {
  Recorder recorder(nullptr, 50ms);
  const auto start = std::chrono::steady_clock::now();
  MessageThread thread(recorder, kTexts);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 150ms);
}

TEST_F(MessageThreadTest, MessagesAreHandledInPostingOrderOnTheObjectsThread) {
  Recorder recorder;
  MessageThread thread(recorder, kTexts);
  constexpr uint32_t kCount = 1000;
  for (uint32_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(PostThreadMessage(thread.Id(), 0xC000 + (i % 7), i, ~i)) << i;
  }
  ASSERT_TRUE(recorder.WaitForHandled(kCount));

  const std::vector<Handled> handled = recorder.HandledMessages();
  ASSERT_EQ(handled.size(), kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(handled[i].message.message, 0xC000 + (i % 7)) << i;
    ASSERT_EQ(handled[i].message.wParam, i);
    ASSERT_EQ(handled[i].message.lParam, ~i);
    ASSERT_EQ(handled[i].thread, thread.Id());
  }
}

// Only the quit message ends the loop; a message no class knows is handed on and the loop
// goes on with the next.
TEST_F(MessageThreadTest, MessagesOtherThanQuitKeepTheLoopRunning) {
  Recorder recorder;
  MessageThread thread(recorder, kTexts);
  const uint32_t known = platform::RegisterWindowMessage("MTTEST:WM_KNOWN");
  for (uint32_t unknown : {0u, platform::WM_TIMER, 0xFFFFu, 0xFFFFFFFFu, 17u, 19u}) {
    ASSERT_TRUE(PostThreadMessage(thread.Id(), unknown, 0, 0));
  }
  ASSERT_TRUE(PostThreadMessage(thread.Id(), known, 42, 0));
  ASSERT_TRUE(recorder.WaitForHandled(7));
  const std::vector<Handled> handled = recorder.HandledMessages();
  EXPECT_EQ(handled.back().message.message, known);
  EXPECT_EQ(handled.back().message.wParam, 42u);
  EXPECT_EQ(recorder.Closes(), 0);
  EXPECT_TRUE(PostThreadMessage(thread.Id(), known, 43, 0)) << "the loop's queue is still there";
}

TEST_F(MessageThreadTest, PostRightAfterConstructionFindsTheQueue) {
  Recorder recorder;
  MessageThread thread(recorder, kTexts);
  EXPECT_TRUE(PostThreadMessage(thread.Id(), 0xC111, 1, 0));
  ASSERT_TRUE(recorder.WaitForHandled(1));
}

// The controller stops itself from its start work when its command server cannot start:
// a quit posted there must find the queue and end the loop right after the start.
TEST_F(MessageThreadTest, QuitPostedDuringStartWorkEndsTheLoopAfterTheStart) {
  Recorder recorder(nullptr, 0ms, true);
  MessageThread thread(recorder, kTexts);
  EXPECT_TRUE(recorder.QuitPostedDuringStart());
  ASSERT_TRUE(recorder.WaitForClose());
  thread.Join();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(recorder.Closes(), 1);
  EXPECT_TRUE(recorder.HandledMessages().empty());
}

TEST_F(MessageThreadTest, DestructionHandlesWaitingMessagesThenClosesOnceAndJoins) {
  Recorder recorder;
  auto thread = std::make_unique<MessageThread>(recorder, kTexts);
  const uint32_t id = thread->Id();
  for (uint32_t i = 0; i < 100; ++i) ASSERT_TRUE(PostThreadMessage(id, 0xC222, i, 0));
  thread.reset();

  // Everything below was finished by the time the destructor returned.
  EXPECT_EQ(recorder.Closes(), 1);
  EXPECT_EQ(recorder.CloseThread(), id) << "close work runs on the object's own thread";
  EXPECT_EQ(recorder.HandledMessages().size(), 100u);
  EXPECT_EQ(recorder.HandledAtClose(), 100u) << "the quit message queues behind earlier posts";
  EXPECT_FALSE(PostThreadMessage(id, 0xC222, 0, 0)) << "the thread's queue is gone";
}

TEST_F(MessageThreadTest, QuitThenJoinClosesOnceAndDestructionAddsNothing) {
  Recorder recorder;
  auto thread = std::make_unique<MessageThread>(recorder, kTexts);
  ASSERT_TRUE(thread->PostQuit());
  ASSERT_TRUE(recorder.WaitForClose());
  thread->Join();
  EXPECT_FALSE(thread->Running());
  EXPECT_FALSE(thread->PostQuit());
  thread.reset();
  EXPECT_EQ(recorder.Closes(), 1);
}

TEST_F(MessageThreadTest, PostMessageMainThreadWithoutOwnerPostsNothing) {
  platform::MessageQueue queue;  // a post to this thread would land here
  Reporter reporter;
  EXPECT_EQ(reporter.LoadThreadID(), 0u);
  EXPECT_FALSE(reporter.PostMessageMainThread(0xC333, 1, 2));
  ThreadMessage message;
  EXPECT_FALSE(queue.PeekMessage(message));

  // A lost owner (0 saved again) posts nothing either.
  reporter.SaveThreadID(CurrentThreadId());
  reporter.SaveThreadID(0);
  EXPECT_FALSE(reporter.PostMessageMainThread(0xC333, 1, 2));
  EXPECT_FALSE(queue.PeekMessage(message));
}

TEST_F(MessageThreadTest, SavedOwnerReceivesPostsFromAnyThread) {
  Recorder recorder;
  auto owner = std::make_unique<MessageThread>(recorder, kTexts);
  Reporter reporter;
  reporter.SaveThreadID(owner->Id());
  EXPECT_EQ(reporter.LoadThreadID(), owner->Id());

  bool posted = false;
  std::thread child([&] { posted = reporter.PostMessageMainThread(0xC444, 7, 9); });
  child.join();
  EXPECT_TRUE(posted);
  ASSERT_TRUE(recorder.WaitForHandled(1));
  const Handled handled = recorder.HandledMessages().front();
  EXPECT_EQ(handled.message.message, 0xC444u);
  EXPECT_EQ(handled.message.wParam, 7u);
  EXPECT_EQ(handled.message.lParam, 9u);
  EXPECT_EQ(handled.thread, owner->Id());

  owner.reset();
  EXPECT_FALSE(reporter.PostMessageMainThread(0xC444, 7, 9)) << "the owner's thread has ended";
}

TEST(RegisteredMessagesTest, ConstantsAreTheIdentifiersOfTheirNames) {
  using platform::RegisterWindowMessage;
  const std::pair<uint32_t, const char*> table[] = {
      {msg::cmd::WM_PROTOCOL_ERROR, "VELNORCMD:WM_PROTOCOL_ERROR"},
      {msg::cmd::WM_PROTOCOL_EXIT, "VELNORCMD:WM_PROTOCOL_EXIT"},
      {msg::cmd::WM_PROTOCOL_CONNECT, "VELNORCMD:WM_PROTOCOL_CONNECT"},
      {msg::cmd::WM_PROTOCOL_SEND, "VELNORCMD:WM_PROTOCOL_SEND"},
      {msg::cmd::WM_PROTOCOL_RECV, "VELNORCMD:WM_PROTOCOL_RECV"},
      {msg::cmd::WM_SERVER_ERROR, "VELNORCMD:WM_SERVER_ERROR"},
      {msg::cmd::WM_SERVER_EXIT, "VELNORCMD:WM_SERVER_EXIT"},
      {msg::httpclient::WM_HTTPCLIENT_ERROR, "VELNORHTTPCLIENT:WM_HTTPCLIENT_ERROR"},
      {msg::httpclient::WM_HTTPCLIENT_EXIT, "VELNORHTTPCLIENT:WM_HTTPCLIENT_EXIT"},
      {msg::httpclient::WM_HTTPCLIENT_SEND, "VELNORHTTPCLIENT:WM_HTTPCLIENT_SEND"},
      {msg::httpclient::WM_THREAD_ERROR, "VELNORHTTPCLIENT:WM_THREAD_ERROR"},
      {msg::httpclient::WM_THREAD_EXIT, "VELNORHTTPCLIENT:WM_THREAD_EXIT"},
      {msg::keepalive::WM_KEEPALIVE_ERROR, "VELNORKEEPALIVE:WM_KEEPALIVE_ERROR"},
      {msg::keepalive::WM_KEEPALIVE_EXIT, "VELNORKEEPALIVE:WM_KEEPALIVE_EXIT"},
      {msg::keepalive::WM_THREAD_ERROR, "VELNORKEEPALIVE:WM_THREAD_ERROR"},
      {msg::keepalive::WM_THREAD_EXIT, "VELNORKEEPALIVE:WM_THREAD_EXIT"},
      {msg::keepalive::WM_KEEPALIVE_START, "VELNORKEEPALIVE:WM_KEEPALIVE_START"},
      {msg::keepalive::WM_KEEPALIVE_STOP, "VELNORKEEPALIVE:WM_KEEPALIVE_STOP"},
  };
  std::set<uint32_t> distinct;
  for (const auto& [constant, name] : table) {
    EXPECT_EQ(constant, RegisterWindowMessage(name)) << name;
    EXPECT_GE(constant, 0xC000u) << name;
    EXPECT_LE(constant, 0xFFFFu) << name;
    distinct.insert(constant);
  }
  EXPECT_EQ(distinct.size(), std::size(table));
  EXPECT_EQ(msg::WM_QUIT, 18u);
}

}  // namespace
