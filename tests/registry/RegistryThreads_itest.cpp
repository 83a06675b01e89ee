// Several threads at once on each registry: the snapshots and saved files are checked as
// they are taken, the registries at the end.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

using namespace registry_model;

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

// One thread's work on the shared registry for half a second (and at least 100 rounds).
template <class T>
void Work(typename T::List& shared, const std::string& file, unsigned seed) {
  std::mt19937 random(seed);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  for (int round = 0; round < 100 || std::chrono::steady_clock::now() < end; ++round) {
    if (testing::Test::HasFailure()) return;
    auto record = T::Make(random);
    switch (random() % 7) {
      case 0:  // now and then a load of the prepared files; a clash with a concurrent add is fair
        if constexpr (T::kHasFile) {
          const int result = random() % 4 == 0 ? T::Load(shared, "prepared.csv") : 0;
          EXPECT_TRUE(result == 0 || result == -1) << result;
        }
        break;
      case 1:
        shared.MarkDeleted(*T::Key(random));
        break;
      case 2: {  // a search, and the erasure of a deleted record under the lock that found it
        CNacList::Guard guard(shared);
        const auto* live = shared.FindLive(*record, guard);
        EXPECT_TRUE(live == nullptr || (live->IsLive() && T::Match(*live, *record)));
        if (const auto* deleted = shared.FindDeleted(*record, guard)) shared.RemoveData(deleted, true);
        break;
      }
      case 3: {  // a snapshot and a save under one hold of the lock: the file holds the snapshot's live records
        typename T::List snapshot, reloaded;
        int live = -1;
        {
          CNacList::Guard guard(shared);
          EXPECT_EQ(shared.CopyAll(&snapshot), shared.GetCount(true));
          if constexpr (T::kHasFile) {
            ASSERT_EQ(T::Save(shared, file), 0);
          }
        }
        EXPECT_EQ(Problem<T>(snapshot, random, true, &live), "");
        if constexpr (T::kHasFile) {
          EXPECT_EQ(T::Load(reloaded, file), 0);
          EXPECT_EQ(reloaded.GetCount(false), live);
        }
        break;
      }
      default:  // a new record, a repeat or a clash
        Own(shared, std::move(record));
    }
  }
}

template <class T>
class RegistryThreadsTest : public ::testing::Test {};
TYPED_TEST_SUITE(RegistryThreadsTest, All);

TYPED_TEST(RegistryThreadsTest, ConcurrentChangesLeaveTheRegistryConsistent) {
  using T = TypeParam;
  testing_support::TempDir dir;
  std::mt19937 random(1);
  typename T::List shared, prepared;
  for (int i = 0; i < 40; ++i) Own(prepared, T::Make(random));
  if constexpr (T::kHasFile) {
    ASSERT_EQ(T::Save(prepared, "prepared.csv"), 0);
  }
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, t] { Work<T>(shared, "saved-" + std::to_string(t) + ".csv", t + 2); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Problem<T>(shared, random, true), "");
  // On the quiet registry a load of the prepared files takes it over whatever the threads left.
  if constexpr (T::kHasFile) {
    int live = -1;
    ASSERT_EQ(T::Load(shared, "prepared.csv"), 0);
    EXPECT_EQ(Problem<T>(shared, random, true, &live), "");
    EXPECT_EQ(live, prepared.GetCount(false));
  }
}

}  // namespace
