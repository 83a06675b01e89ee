#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "registry/NacList.h"
#include "registry/NacNode.h"
#include "registry/NacRecord.h"

namespace {

constexpr int kWriters = 4;
constexpr int kPerWriter = 3000;
constexpr int kTotal = kWriters * kPerWriter;

// Each record counts its destructions in a slot of its own, so that a record destroyed
// twice or never shows up.
class Counted : public CNacRecord {
 public:
  Counted(int id, std::atomic<int>* destructions) : id_(id), destructions_(destructions) {}
  ~Counted() override { destructions_[id_].fetch_add(1); }
  int Id() const { return id_; }

 private:
  int id_;
  std::atomic<int>* destructions_;
};

int SameRecord(const CNacListItem* record, const void* key) { return record == key; }

int Id(const CNacNode* node) { return node->RecordAs<Counted>()->Id(); }

// Writers add and take out their own records while a drainer takes from both ends and a
// holder works inside a twice-taken lock. In the end every record is in exactly one
// place, and the list's count, forward walk and backward walk agree.
TEST(NacListThreadsTest, ConcurrentChangesKeepCountAndLinks) {
  std::vector<std::atomic<int>> destructions(kTotal);
  CNacList list;
  std::atomic<int> writersLeft{kWriters};
  std::latch start(kWriters + 2);  // everybody runs together

  std::vector<std::vector<std::unique_ptr<CNacNode>>> unlinked(kWriters);
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      start.arrive_and_wait();
      std::vector<Counted*> mine;
      for (int i = 0; i < kPerWriter; ++i) {
        auto* record = new Counted(w * kPerWriter + i, destructions.data());
        mine.push_back(record);
        if (i % 2 == 0) {
          list.AddTail(record, false);
        } else {
          list.AddHead(record, false);
        }
        if (i == 0) continue;
        // The drainer may have taken the previous record already; then these find nothing.
        // Taken records are kept alive, so their addresses are never reused meanwhile.
        Counted* previous = mine[i - 1];
        if (i % 3 == 0) {
          list.RemoveData(previous, false);
        } else if (i % 3 == 1) {
          if (auto node = list.UnlinkData(previous, false)) {
            EXPECT_EQ(node->Record(), previous);
            unlinked[w].push_back(std::move(node));
          }
        } else {
          list.Lock();
          if (CNacNode* found = list.Search(previous, SameRecord, true)) {
            EXPECT_EQ(found->Record(), previous);
          }
          list.Unlock();
        }
      }
      writersLeft.fetch_sub(1);
    });
  }

  std::vector<std::unique_ptr<CNacNode>> drained;
  threads.emplace_back([&] {
    start.arrive_and_wait();
    for (int round = 0; writersLeft > 0; ++round) {
      // Leave the writers something to find most of the time.
      if (list.GetCount(false) < 64) {
        std::this_thread::yield();
        continue;
      }
      auto node = round % 2 == 0 ? list.UnlinkHead(false) : list.UnlinkTail(false);
      if (node) drained.push_back(std::move(node));
    }
  });

  // Inside its hold nobody else may change the list: the count moves only by its own
  // steps and matches the nodes it walks.
  threads.emplace_back([&] {
    start.arrive_and_wait();
    auto marker = std::make_unique<CNacListItem>();
    do {
      list.Lock();
      list.Lock();
      const std::int32_t before = list.GetCount(false);
      std::int32_t walked = 0;
      for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
        ++walked;
      }
      EXPECT_EQ(walked, before);
      CNacListItem* item = marker.release();
      list.AddTail(item, false);
      EXPECT_EQ(list.GetCount(false), before + 1);
      std::unique_ptr<CNacNode> node = list.UnlinkData(item, false);
      EXPECT_TRUE(node);
      if (node) marker.reset(node->ReleaseRecord());
      EXPECT_EQ(list.GetCount(false), before);
      list.Unlock();
      list.Unlock();
      std::this_thread::yield();
    } while (writersLeft > 0);
  });

  for (std::thread& thread : threads) thread.join();

  std::vector<int> places(kTotal, 0);
  std::vector<int> forward;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    forward.push_back(Id(node));
  }
  EXPECT_EQ(list.GetCount(false), static_cast<std::int32_t>(forward.size()));
  for (int id : forward) ++places[id];
  for (const auto& nodes : unlinked) {
    for (const auto& node : nodes) ++places[Id(node.get())];
  }
  for (const auto& node : drained) ++places[Id(node.get())];
  int taken = 0;
  for (int id = 0; id < kTotal; ++id) {
    const int destroyed = destructions[id].load();
    taken += destroyed;
    EXPECT_EQ(places[id] + destroyed, 1) << "record " << id;
  }
  EXPECT_GT(taken, 0);  // the writers' removals did find records

  // The backward links agree with the forward ones.
  std::vector<int> backward;
  while (auto node = list.UnlinkTail(false)) backward.push_back(Id(node.get()));
  EXPECT_EQ(std::vector<int>(backward.rbegin(), backward.rend()), forward);
  EXPECT_TRUE(list.IsEmpty(false));
  EXPECT_EQ(list.GetCount(false), 0);

  unlinked.clear();
  drained.clear();
  for (int id = 0; id < kTotal; ++id) EXPECT_EQ(destructions[id].load(), 1) << "record " << id;
}

// Queue use: producers append, consumers take from the head. Every item comes out once,
// and each consumer sees each producer's items in the order they went in.
class Queued : public CNacListItem {
 public:
  Queued(int producer, int sequence) : producer(producer), sequence(sequence) {}
  const int producer;
  const int sequence;
};

TEST(NacListThreadsTest, QueueHandsEachItemOutOnceInOrder) {
  constexpr int kProducers = 3;
  constexpr int kConsumers = 2;
  constexpr int kPerProducer = 4000;
  CNacList queue;
  std::atomic<int> consumed{0};
  std::vector<std::vector<int>> seen(kProducers, std::vector<int>(kPerProducer, 0));
  std::mutex seenMutex;

  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) queue.AddTail(new Queued(p, i), false);
    });
  }
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&] {
      std::vector<int> last(kProducers, -1);
      while (consumed < kProducers * kPerProducer) {
        std::unique_ptr<CNacNode> node = queue.UnlinkHead(false);
        if (!node) {
          std::this_thread::yield();
          continue;
        }
        const auto* item = node->RecordAs<Queued>();
        EXPECT_GT(item->sequence, last[item->producer]) << "producer " << item->producer;
        last[item->producer] = item->sequence;
        {
          std::lock_guard<std::mutex> lock(seenMutex);
          ++seen[item->producer][item->sequence];
        }
        ++consumed;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(consumed, kProducers * kPerProducer);
  for (int p = 0; p < kProducers; ++p) {
    for (int i = 0; i < kPerProducer; ++i) EXPECT_EQ(seen[p][i], 1) << p << "/" << i;
  }
  EXPECT_TRUE(queue.IsEmpty(false));
  EXPECT_EQ(queue.GetCount(false), 0);
}

}  // namespace
