#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "registry/NacList.h"

namespace {

struct Queued : CNacListItem {
  explicit Queued(int id) : id(id) {}
  const int id;
};

// Producers add at both ends while consumers take from the head and the tail: every item
// comes out exactly once, and the list ends empty with a zero count.
TEST(NacListThreadsTest, EveryItemComesOutOnce) {
  constexpr int kProducers = 3;
  constexpr int kPerProducer = 4000;
  constexpr int kTotal = kProducers * kPerProducer;
  CNacList list;
  std::vector<std::atomic<int>> seen(kTotal);
  std::atomic<int> consumed{0};
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int id = p * kPerProducer; id < (p + 1) * kPerProducer; ++id) {
        id % 2 == 0 ? list.AddTail(new Queued(id), false) : list.AddHead(new Queued(id), false);
      }
    });
  }
  for (bool fromHead : {true, false}) {
    threads.emplace_back([&, fromHead] {
      while (consumed < kTotal) {
        std::unique_ptr<CNacNode> node = fromHead ? list.UnlinkHead(false) : list.UnlinkTail(false);
        if (!node) {
          std::this_thread::yield();
          continue;
        }
        ++seen[node->RecordAs<Queued>()->id];
        ++consumed;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int id = 0; id < kTotal; ++id) ASSERT_EQ(seen[id], 1) << id;
  EXPECT_TRUE(list.IsEmpty(false));
  EXPECT_EQ(list.GetCount(false), 0);
}

}  // namespace
