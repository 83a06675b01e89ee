#include "platform/ThreadMessages.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/Eventually.h"
#include "tests/common/OwnerStandIn.h"

namespace {

using namespace platform;

// Ids stay clear of the fixed messages (quit, timer); a name gives the same id on every thread.
TEST(ThreadMessagesTest, EqualNamesGiveEqualIdsOthersDiffer) {
  const uint32_t id = RegisterMessageName("TMTEST:WM_A");
  EXPECT_GE(id, 0xC000u);
  uint32_t fromThread = 0;
  std::thread([&] { fromThread = RegisterMessageName(std::string("TMTEST:") + "WM_A"); }).join();
  EXPECT_EQ(fromThread, id);
  EXPECT_NE(RegisterMessageName("TMTEST:WM_B"), id);
}

// A post needs the thread's queue, alive and with room: at most 10000 messages wait.
TEST(ThreadMessagesTest, PostNeedsAQueueWithRoom) {
  const uint32_t self = CurrentThreadId();
  EXPECT_FALSE(PostToThread(self, 0xC123, 1, 2));
  EXPECT_FALSE(PostToThread(0, 0xC123, 1, 2));
  {
    MessageQueue queue;
    for (uint32_t i = 0; i < 10000; ++i) ASSERT_TRUE(PostToThread(self, 0xC100, i, 0)) << i;
    EXPECT_FALSE(PostToThread(self, 0xC100, 10000, 0));
    EXPECT_FALSE(PostToThread(self, kQuitMessage, 0, 0));
    ThreadMessage message;
    ASSERT_TRUE(queue.TakeMessage(message));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_TRUE(PostToThread(self, 0xC100, 10001, 0));
    EXPECT_FALSE(PostToThread(self, 0xC100, 10002, 0));
  }
  EXPECT_FALSE(PostToThread(self, 0xC123, 1, 2)) << "the queue is gone";
}

TEST(ThreadMessagesTest, GetMessageReturnsFalseOnlyForQuitAndKeepsParameters) {
  MessageQueue queue;
  const uint32_t self = CurrentThreadId();
  ASSERT_TRUE(PostToThread(self, 0, 0xDEADBEEF, 0x01020304));
  ASSERT_TRUE(PostToThread(self, kQuitMessage, 3, 4));
  ASSERT_TRUE(PostToThread(self, 0xC001, 5, 5));
  ThreadMessage message;
  EXPECT_TRUE(queue.TakeMessage(message));
  EXPECT_EQ(message.wParam, 0xDEADBEEFu);
  EXPECT_EQ(message.lParam, 0x01020304u);
  EXPECT_FALSE(queue.TakeMessage(message));
  EXPECT_EQ(message.message, kQuitMessage);
  EXPECT_TRUE(queue.TakeMessage(message)) << "the quit message ends a loop, not the queue";
  EXPECT_EQ(message.message, 0xC001u);
  EXPECT_FALSE(queue.TryTakeMessage(message));
}

TEST(ThreadMessagesTest, EachSendersOrderIsKeptAcrossThreads) {
  constexpr uint32_t kPerSender = 4000;
  testing_support::OwnerStandIn receiver;
  std::vector<std::thread> senders;
  for (uint32_t s = 0; s < 2; ++s) {
    senders.emplace_back([&, s] {
      for (uint32_t i = 0; i < kPerSender; ++i) EXPECT_TRUE(PostToThread(receiver.Id(), 0xC0DE, s, i));
    });
  }
  for (std::thread& sender : senders) sender.join();
  ASSERT_TRUE(testing_support::Eventually([&] { return receiver.Received().size() == 2 * kPerSender; }));
  std::vector<std::vector<uint32_t>> bySender(2);
  for (const ThreadMessage& message : receiver.Received()) bySender.at(message.wParam).push_back(message.lParam);
  std::vector<uint32_t> expected(kPerSender);
  std::iota(expected.begin(), expected.end(), 0u);
  EXPECT_EQ(bySender, (std::vector<std::vector<uint32_t>>{expected, expected}));
}

}  // namespace
