// The prober's table of probes out: which probe an answer ends, and when an unanswered one
// fails, on times given by hand.

#include "keepalive/ProbeTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(ProbeTableTest, AnAnswerEndsTheProbeOfItsSequenceOnceAndOnlyWithinItsWindow) {
  ProbeTable table;
  EXPECT_EQ(table.Start(0xA, 5000), 0);
  EXPECT_EQ(table.Start(0xB, 5000), 1);
  EXPECT_EQ(table.Start(0xC, 5400), 2);
  EXPECT_EQ(table.Answer(1), 0xBu);
  EXPECT_EQ(table.Answer(1), std::nullopt) << "a second answer ended the probe again";
  EXPECT_EQ(table.Answer(9), std::nullopt) << "an answer to nothing sent";
  EXPECT_EQ(table.NextDeadline(), 6000);

  std::vector<std::uint32_t> failed;
  table.Expire(5999, failed);
  EXPECT_TRUE(failed.empty()) << "failed within its second";
  table.Expire(6000, failed);
  EXPECT_EQ(failed, std::vector<std::uint32_t>{0xA}) << "the answered probe failed too, or the open one did not";
  EXPECT_EQ(table.Answer(0), std::nullopt) << "an answer after the window still counted";
  EXPECT_EQ(table.NextDeadline(), 6400);

  // A request that never left is forgotten without a result.
  const std::optional<std::uint16_t> cancelled = table.Start(0xD, 5500);
  ASSERT_EQ(cancelled, 3);
  table.Cancel(*cancelled);
  failed.clear();
  table.Expire(7000, failed);
  EXPECT_EQ(failed, std::vector<std::uint32_t>{0xC});
  EXPECT_EQ(table.Outstanding(), 0u);
  EXPECT_EQ(table.NextDeadline(), std::nullopt);

  // At the end of a run, what is still out is handed back.
  ASSERT_TRUE(table.Start(0xE, 8000));
  ASSERT_TRUE(table.Start(0xF, 8000));
  ASSERT_TRUE(table.Answer(5));
  failed.clear();
  table.TakeAll(failed);
  EXPECT_EQ(failed, std::vector<std::uint32_t>{0xE});
  EXPECT_EQ(table.Outstanding(), 0u);
}

TEST(ProbeTableTest, SequencesWrapAndPassOverANumberStillOut) {
  ProbeTable table;
  ASSERT_EQ(table.Start(1, 0), 0);  // never answered while the numbers go round
  for (std::uint32_t i = 1; i < 65536; ++i) {
    const std::optional<std::uint16_t> sequence = table.Start(100 + i, 0);
    ASSERT_EQ(sequence, i);
    ASSERT_TRUE(table.Answer(*sequence));
  }
  EXPECT_EQ(table.Start(2, 0), 1) << "number 0 was given twice";
  EXPECT_EQ(table.Answer(0), 1u);
  EXPECT_EQ(table.Answer(1), 2u);
}

}  // namespace
