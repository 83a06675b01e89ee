#include "platform/Event.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "platform/WaitSet.h"

namespace {

using platform::Event;
using platform::EventReset;
using platform::kWaitFailed;
using platform::kWaitTimeout;
using platform::WaitForAny;
using platform::WaitForOne;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

Event Make(EventReset reset, bool signalled = false) {
  std::optional<Event> event = Event::Create(reset, signalled);
  if (!event) {
    std::perror("eventfd");
    std::abort();
  }
  return std::move(*event);
}

// Polls a condition for up to two seconds.
template <typename Pred>
bool Eventually(Pred pred) {
  const auto end = SteadyClock::now() + Ms(2000);
  while (SteadyClock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(Ms(5));
  }
  return pred();
}

TEST(EventTest, AutoResetEventIsTakenByOneWait) {
  Event event = Make(EventReset::kAuto);
  EXPECT_EQ(WaitForOne(event, 0), kWaitTimeout);

  // A second Set on a set event adds nothing: one wait takes it all.
  ASSERT_TRUE(event.Set());
  ASSERT_TRUE(event.Set());
  EXPECT_TRUE(event.IsSignalled());
  EXPECT_TRUE(event.IsSignalled()) << "looking must not take it";
  EXPECT_EQ(WaitForOne(event, 0), 0);
  EXPECT_FALSE(event.IsSignalled());
  EXPECT_EQ(WaitForOne(event, 0), kWaitTimeout);

  ASSERT_TRUE(event.Set());
  ASSERT_TRUE(event.Reset());
  EXPECT_EQ(WaitForOne(event, 0), kWaitTimeout);
}

TEST(EventTest, ManualResetEventStaysSignalledUntilReset) {
  Event event = Make(EventReset::kManual);
  EXPECT_FALSE(event.IsSignalled());
  ASSERT_TRUE(event.Set());
  EXPECT_EQ(WaitForOne(event, 0), 0);
  EXPECT_EQ(WaitForOne(event, 100), 0);
  EXPECT_TRUE(event.IsSignalled());
  ASSERT_TRUE(event.Reset());
  EXPECT_FALSE(event.IsSignalled());
  EXPECT_EQ(WaitForOne(event, 0), kWaitTimeout);
  // Resetting a reset event is no failure.
  EXPECT_TRUE(event.Reset());
}

TEST(EventTest, InitialStateIsHonoured) {
  Event manual = Make(EventReset::kManual, true);
  Event autoReset = Make(EventReset::kAuto, true);
  Event unset = Make(EventReset::kAuto, false);
  EXPECT_TRUE(manual.IsSignalled());
  EXPECT_EQ(WaitForOne(autoReset, 0), 0);
  EXPECT_EQ(WaitForOne(autoReset, 0), kWaitTimeout);
  EXPECT_EQ(WaitForOne(unset, 0), kWaitTimeout);
}

TEST(EventTest, LowestSignalledIndexWinsAndOnlyItIsReset) {
  Event a = Make(EventReset::kAuto);
  Event b = Make(EventReset::kAuto);
  Event c = Make(EventReset::kAuto);
  ASSERT_TRUE(c.Set());
  ASSERT_TRUE(b.Set());

  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);
  EXPECT_FALSE(b.IsSignalled());
  EXPECT_TRUE(c.IsSignalled()) << "an object that was not returned must stay signalled";
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 2);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitTimeout);
}

TEST(EventTest, SignalledManualEventAheadHidesLaterAutoEvent) {
  Event manual = Make(EventReset::kManual, true);
  Event autoReset = Make(EventReset::kAuto, true);
  platform::Waitable* const set[] = {&manual, &autoReset};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForAny(set, 0), 0);
  EXPECT_TRUE(autoReset.IsSignalled());
  ASSERT_TRUE(manual.Reset());
  EXPECT_EQ(WaitForAny(set, 0), 1);
  EXPECT_EQ(WaitForAny(set, 0), kWaitTimeout);
}

TEST(EventTest, TimeoutRunsItsLength) {
  Event a = Make(EventReset::kAuto);
  Event b = Make(EventReset::kManual);
  const auto start = SteadyClock::now();
  EXPECT_EQ(WaitForAny({&a, &b}, 150), kWaitTimeout);
  const auto took = SteadyClock::now() - start;
  EXPECT_GE(took, Ms(145));
  EXPECT_LT(took, Ms(2000));
}

TEST(EventTest, WaitWithoutTimeoutEndsOnSetFromAnotherThread) {
  Event idle = Make(EventReset::kAuto);
  Event end = Make(EventReset::kManual);
  std::thread setter([&] {
    std::this_thread::sleep_for(Ms(50));
    end.Set();
  });
  EXPECT_EQ(WaitForAny({&idle, &end}, std::nullopt), 1);
  setter.join();

  // kInfinite means no time-out, not a wait of 49 days that ends at once.
  EXPECT_EQ(WaitForAny({&idle, &end}, platform::kInfinite), 1);
}

TEST(EventTest, OneSetWakesExactlyOneOfTwoWaiters) {
  Event event = Make(EventReset::kAuto);
  std::atomic<int> woken{0};
  std::atomic<int> timedOut{0};
  auto waiter = [&] {
    const int rc = WaitForOne(event, 5000);
    if (rc == 0) ++woken;
    if (rc == kWaitTimeout) ++timedOut;
  };
  std::thread first(waiter);
  std::thread second(waiter);
  std::this_thread::sleep_for(Ms(100));  // both are very likely inside their waits

  ASSERT_TRUE(event.Set());
  EXPECT_TRUE(Eventually([&] { return woken.load() >= 1; }));
  std::this_thread::sleep_for(Ms(150));
  EXPECT_EQ(woken.load(), 1);
  EXPECT_FALSE(event.IsSignalled()) << "the waiter that woke has taken the signal";

  ASSERT_TRUE(event.Set());
  first.join();
  second.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(timedOut.load(), 0);
}

TEST(EventTest, InvalidWaitSetsFail) {
  Event event = Make(EventReset::kManual, true);
  EXPECT_EQ(WaitForAny(std::span<platform::Waitable* const>(), 0), kWaitFailed);
  EXPECT_EQ(WaitForAny({&event, nullptr}, 0), kWaitFailed);
}

TEST(EventTest, CreateReportsDescriptorExhaustion) {
  // The lowest free descriptor number is the count the limit must stay under.
  const int probe = dup(0);
  ASSERT_GE(probe, 0);
  close(probe);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  const bool made = Event::Create(EventReset::kAuto, false).has_value();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_FALSE(made);
  EXPECT_TRUE(Event::Create(EventReset::kAuto, false).has_value());
}

}  // namespace
