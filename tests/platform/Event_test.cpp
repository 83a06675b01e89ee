#include "platform/Event.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/WaitSet.h"

namespace {

using namespace platform;

Event Make(EventReset reset, bool signalled = false) {
  std::optional<Event> event = Event::Create(reset, signalled);
  if (!event) std::abort();
  return std::move(*event);
}

TEST(EventTest, AutoResetIsTakenByOneWaitManualStaysUntilReset) {
  Event autoReset = Make(EventReset::kAuto, true);
  ASSERT_TRUE(autoReset.Set());  // a second Set adds nothing
  EXPECT_TRUE(autoReset.IsSignalled());
  EXPECT_EQ(WaitForOne(autoReset, 0), 0);
  EXPECT_EQ(WaitForOne(autoReset, 0), kWaitTimeout);

  Event manual = Make(EventReset::kManual, true);
  EXPECT_EQ(WaitForOne(manual, 0), 0);
  EXPECT_EQ(WaitForOne(manual, 0), 0);
  ASSERT_TRUE(manual.Reset());
  EXPECT_EQ(WaitForOne(manual, 0), kWaitTimeout);
}

TEST(EventTest, LowestSignalledIndexWinsAndOnlyItIsReset) {
  Event a = Make(EventReset::kAuto), b = Make(EventReset::kAuto, true), c = Make(EventReset::kAuto, true);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);
  EXPECT_TRUE(c.IsSignalled());
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 2);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitTimeout);

  Event manual = Make(EventReset::kManual, true), later = Make(EventReset::kAuto, true);
  EXPECT_EQ(WaitForAny({&manual, &later}, 0), 0);
  EXPECT_EQ(WaitForAny({&manual, &later}, 0), 0);
  EXPECT_TRUE(later.IsSignalled()) << "an object not returned keeps its signal";
}

}  // namespace
