// A gateway that does not listen, in real time: four tries over a minute, then the drop.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/delivery/DeliveryHarness.h"

namespace {

using namespace delivery_testing;

// The lines of each try are pinned by the fast run; here only their times.
TEST_F(RealTimeDeliveryTest, UnreachableGatewayIsTriedFourTimesOverAMinuteThenDropped) {
  const std::string dead = Gw("127.0.0.15", 9);  // nothing listens there
  Start();
  Send({Request("127.0.0.15", 9, 1)});
  ASSERT_TRUE(log_.Await(4, Dropped(dead), 1, 90s));

  std::vector<std::chrono::steady_clock::time_point> tries;
  for (const LogLine& line : log_.Settle()) {
    if (line.text == ConnectionError(dead) && line.priority == 7) tries.push_back(line.at);
  }
  ASSERT_EQ(tries.size(), 4u);
  const auto spread = std::chrono::duration_cast<std::chrono::milliseconds>(tries.back() - tries.front());
  EXPECT_GE(spread, 59500ms);  // 10 + 20 + 30 s of pauses
  EXPECT_LT(spread, 62000ms);
}

}  // namespace
