// Each registry's searches against a plain walk, over seeded random sequences of the
// operations that change it. VELNOR_SEED replays one seed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "registry/NacNodeMap.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

using namespace registry_model;

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

template <class T>
void RunSequence(unsigned seed, int steps) {
  using Record = typename T::Record;
  std::mt19937 random(seed);
  // Each copy goes into a fresh list, as snapshots do: copying back into a list that was
  // copied from would take the two locks in both orders.
  auto active = std::make_unique<typename T::List>();
  for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    auto& list = *active;
    const std::vector<Record*> records = Records<Record>(list);
    Record* some = records.empty() ? nullptr : records[random() % records.size()];
    const unsigned operation = random() % 20;
    if (operation < 7) {
      auto record = T::Make(random);
      record->added = static_cast<std::int32_t>(random() % 2);
      bool taken = !T::Shaped(*record);
      for (const Record* r : records) taken = taken || (r->IsLive() && T::Identity(*r, *record));
      ASSERT_EQ(Own(list, std::move(record)), taken ? -1 : 0) << "AddUnique";
    } else if (operation == 7) {  // no identity check: live twins, out of append order
      auto record = T::Make(random);
      if (!T::Shaped(*record)) continue;
      some != nullptr ? list.InsertAfter(list.GetHead(false), record.release(), false)
                      : list.AddHead(record.release(), false);
    } else if (operation < 10) {
      const auto key = T::Key(random);
      std::vector<bool> expected;
      for (const Record* r : records) expected.push_back(!r->IsLive() || T::Match(*r, *key));
      list.MarkDeleted(*key);
      for (std::size_t i = 0; i < records.size(); ++i) ASSERT_EQ(!records[i]->IsLive(), expected[i]) << "MarkDeleted";
    } else if (operation == 10) {
      if (random() % 4 == 0) list.MarkAllDeleted(1);
    } else if (operation < 14) {
      if (some != nullptr) operation == 13 ? list.UnlinkData(some, false).reset() : list.RemoveData(some, false);
    } else if (operation < 16) {
      if (some != nullptr) some->added ^= 1;
    } else if (operation == 16) {
      auto copy = std::make_unique<typename T::List>();
      EXPECT_GE(list.CopyAll(copy.get()), 0);
      active = std::move(copy);
    } else if (operation == 17) {
      if (random() % 8 == 0) list.RemoveAll(false);
    } else if (operation == 18) {
      if constexpr (T::kHasFile) {
        if (random() % 4 == 0 && T::Save(list, "registry.csv") == 0) T::Load(list, "registry.csv");
      }
    }
    ASSERT_EQ(Problem<T>(*active, random, false), "");
  }
}

template <class T>
class RegistryIndexTest : public ::testing::Test {};
TYPED_TEST_SUITE(RegistryIndexTest, All);

TYPED_TEST(RegistryIndexTest, SearchesAgreeWithAWalk) {
  testing_support::TempDir dir;
  const char* replay = std::getenv("VELNOR_SEED");
  const unsigned first = replay != nullptr ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10)) : std::random_device{}();
  for (int run = 0; run < (replay != nullptr ? 1 : 6) && !this->HasFailure(); ++run) {
    const unsigned seed = first + static_cast<unsigned>(run);
    std::fprintf(stderr, "VELNOR_SEED=%u\n", seed);
    SCOPED_TRACE("replay with VELNOR_SEED=" + std::to_string(seed));
    RunSequence<TypeParam>(seed, 2000);
  }
}

// The node map of the indexes, sized for a load from a sample of it: a projection that is
// right gives the table that filing one by one ends with, and nothing grows after it; one
// that asks too much gives the excess back at the end; one that asks too little, or comes
// from too small a sample, lets the map grow as usual; and a run leaves no table smaller
// than it found it. Every node filed is found throughout.
std::uint64_t NetworkOf(const CNacNode& node) { return node.RecordAs<CPcData>()->network; }
using NetworkMap = CNacNodeMap<std::uint64_t, NetworkOf>;

TEST(NodeMapTest, ALoadsRunEndsWithTheTableThatGrowingOneByOneReaches) {
  constexpr int kNodes = 6000;
  constexpr int kSample = 500;
  CNacList list;
  for (int i = 0; i < kNodes; ++i) {
    auto* pc = new CPcData;
    pc->network = static_cast<std::uint32_t>(i / 2);  // two nodes a key
    list.AddTail(pc, false);
  }
  std::vector<CNacNode*> nodes;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) nodes.push_back(node);

  const struct {
    const char* name;
    int before;          // nodes filed and removed again before the run, which files the rest
    int projected;       // the run's nodes that the projection from its sample foresees
    int afterProjection;  // -1, 0, 1: the projected table is smaller, the same, larger than the final one
  } cases[] = {
      {"right", 0, kNodes, 0},
      {"four times too many", 0, 4 * kNodes, 1},
      {"a third of them", 0, kNodes / 3, -1},
      {"from a sample too small to tell", 0, 100 * kNodes, -1},
      {"too many for a table left larger", 5000, 4 * kNodes, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkMap oneByOne;
    NetworkMap map;
    for (int i = 0; i < c.before; ++i) map.Add(NetworkOf(*nodes[i]), nodes[i]);
    for (int i = 0; i < c.before; ++i) map.Remove(NetworkOf(*nodes[i]), nodes[i]);
    const std::size_t found = map.Capacity();
    std::size_t projected = 0;
    map.BeginRun();
    for (int i = c.before; i < kNodes; ++i) {
      oneByOne.Add(NetworkOf(*nodes[i]), nodes[i]);
      map.Add(NetworkOf(*nodes[i]), nodes[i]);
      if (i + 1 == c.before + kSample) {
        map.ProjectRun(kSample, static_cast<std::uint64_t>(c.projected));
        projected = map.Capacity();
      }
    }
    map.EndRun();
    EXPECT_EQ(map.Capacity(), std::max(found, oneByOne.Capacity()));
    EXPECT_EQ((projected > map.Capacity()) - (projected < map.Capacity()), c.afterProjection);
    for (int i = c.before; i < kNodes; ++i) {
      CandidateNodes candidates;
      map.AppendTo(NetworkOf(*nodes[i]), candidates);
      ASSERT_NE(std::find(candidates.begin(), candidates.end(), nodes[i]), candidates.end()) << i;
    }
  }
}

}  // namespace
