// Which gateway is due when, and the pace at which probes go out, on times given by hand.

#include "keepalive/ProbeSchedule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "keepalive/SendPacer.h"

namespace {

std::vector<std::uint32_t> PopAll(ProbeSchedule& schedule, std::int64_t now) {
  std::vector<std::uint32_t> due;
  while (const std::optional<std::uint32_t> address = schedule.PopDue(now)) {
    due.push_back(*address);
    schedule.Put(*address, now + 10'000);
  }
  return due;
}

TEST(ProbeScheduleTest, GatewaysComeInDueOrderAndAWalkDropsOrAddsThem) {
  ProbeSchedule schedule;
  schedule.BeginWalk();
  schedule.Seen(3, 300);
  schedule.Seen(1, 100);
  schedule.Seen(2, 200);
  schedule.EndWalk();
  EXPECT_EQ(schedule.NextDue(), 100);
  EXPECT_EQ(PopAll(schedule, 99), std::vector<std::uint32_t>{});
  EXPECT_EQ(PopAll(schedule, 250), (std::vector<std::uint32_t>{1, 2}));

  // Gateway 2 left the registry; 4 came; 3 was withdrawn and added again as a new record,
  // never probed, which is due at once rather than at its old turn.
  schedule.BeginWalk();
  schedule.Seen(1, 10'100);
  schedule.Seen(3, 260);
  schedule.Seen(4, 260);
  schedule.EndWalk();
  EXPECT_EQ(schedule.Size(), 3u);
  EXPECT_EQ(PopAll(schedule, 260), (std::vector<std::uint32_t>{3, 4}));
  EXPECT_EQ(PopAll(schedule, 10'250), std::vector<std::uint32_t>{1}) << "gateway 2 is still scheduled";

  // One found gone at its turn is dropped for good.
  ASSERT_EQ(schedule.PopDue(10'260), 3u);
  schedule.Forget(3);
  EXPECT_EQ(PopAll(schedule, 100'000), (std::vector<std::uint32_t>{4, 1}));
  EXPECT_EQ(schedule.Size(), 2u);
}

TEST(ProbeScheduleTest, ThePacerLetsABurstGoThenOnePerItsShareOfASecond) {
  SendPacer pacer(4000, 100);
  int sent = 0;
  while (pacer.Take(1000)) ++sent;
  EXPECT_EQ(sent, 100);
  EXPECT_EQ(pacer.NextAllowed(1000), 1001);
  // 4 a millisecond from then on, fractions kept: 10 ms give 40, not 10 times 4 rounded down.
  sent = 0;
  for (std::int64_t now = 1001; now <= 1010; ++now) {
    while (pacer.Take(now)) ++sent;
  }
  EXPECT_EQ(sent, 40);
  // A quiet spell fills the bucket no further than the burst.
  sent = 0;
  while (pacer.Take(60'000)) ++sent;
  EXPECT_EQ(sent, 100);
}

}  // namespace
