#include "registry/NacList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "registry/NacNode.h"
#include "registry/NacRecord.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

#if defined(__SANITIZE_THREAD__)
#define VELNOR_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELNOR_TEST_UNDER_TSAN 1
#endif
#endif
#ifndef VELNOR_TEST_UNDER_TSAN
#define VELNOR_TEST_UNDER_TSAN 0
#endif

// One-shot allocation failure for the thread that asks for it: the next operator new on
// that thread throws std::bad_alloc.
namespace {
thread_local bool failNextAllocation = false;
}  // namespace

void* operator new(std::size_t size) {
  if (failNextAllocation) {
    failNextAllocation = false;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// GCC sees free() meet the result of operator new once these are inlined, and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using namespace std::chrono_literals;

// A record that tells its id and reports its own destruction.
class Tracked : public CNacRecord {
 public:
  Tracked(int id, std::vector<int>* destroyed) : id_(id), destroyed_(destroyed) {}
  ~Tracked() override {
    if (destroyed_ != nullptr) destroyed_->push_back(id_);
  }
  int Id() const { return id_; }

 private:
  int id_;
  std::vector<int>* destroyed_;
};

int SameId(const CNacListItem* record, const void* key) {
  return static_cast<const Tracked*>(record)->Id() == *static_cast<const int*>(key);
}

int IdAtLeast(const CNacListItem* record, const void* key) {
  return static_cast<const Tracked*>(record)->Id() >= *static_cast<const int*>(key);
}

int Id(const CNacNode* node) { return node->RecordAs<Tracked>()->Id(); }

// The ids from head to tail, walking as callers do.
std::vector<int> Ids(CNacList& list) {
  std::vector<int> ids;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    ids.push_back(Id(node));
  }
  return ids;
}

class NacListTest : public ::testing::Test {
 protected:
  Tracked* Make(int id) { return new Tracked(id, &destroyed_); }
  // A list holding the given ids in order.
  void Fill(std::initializer_list<int> ids) {
    for (int id : ids) list_.AddTail(Make(id), false);
  }

  std::vector<int> destroyed_;  // declared first: the list's records report here as it dies
  CNacList list_;
};

// Runs work on its own thread and tells whether it ended in time. A thread that did not
// is left blocked; whatever it uses must then outlive the test, hence the shared owners.
bool FinishesWithin(std::function<void()> work, std::chrono::milliseconds timeout = 3s) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> ended = done->get_future();
  std::thread([work = std::move(work), done] {
    work();
    done->set_value();
  }).detach();
  return ended.wait_for(timeout) == std::future_status::ready;
}

TEST(NacRecordTest, NewRecordIsLiveAndAssignmentCopiesOnlyTheFlags) {
  Tracked source(1, nullptr);
  EXPECT_EQ(source.added, 0);
  EXPECT_EQ(source.deleted, 0);
  EXPECT_TRUE(source.IsLive());

  source.added = 1;
  source.deleted = 1;
  EXPECT_FALSE(source.IsLive());
  Tracked target(2, nullptr);
  CNacRecord& base = target;
  base = source;
  EXPECT_EQ(target.added, 1);
  EXPECT_EQ(target.deleted, 1);
  EXPECT_EQ(target.Id(), 2);
}

TEST(NacRecordTest, AssignmentThroughTheBaseReachesTheRecordClass) {
  struct Named : CNacRecord {
    std::string name;
    Named& operator=(const CNacRecord& other) override {
      CNacRecord::operator=(other);
      name = static_cast<const Named&>(other).name;
      return *this;
    }
  };
  Named source;
  source.name = "gw1";
  source.added = 1;
  Named target;
  static_cast<CNacRecord&>(target) = source;
  EXPECT_EQ(target.name, "gw1");
  EXPECT_EQ(target.added, 1);
}

TEST(NacNodeTest, NodeOwnsItsRecordUntilReleased) {
  std::vector<int> destroyed;
  auto node = std::make_unique<CNacNode>();
  EXPECT_EQ(node->Record(), nullptr);
  node.reset();  // no record: nothing to destroy
  EXPECT_TRUE(destroyed.empty());

  CNacList list;
  list.AddTail(new Tracked(1, &destroyed), false);
  list.AddTail(new Tracked(2, &destroyed), false);
  std::unique_ptr<CNacNode> first = list.UnlinkHead(false);
  std::unique_ptr<CNacNode> second = list.UnlinkHead(false);
  std::unique_ptr<CNacListItem> kept(second->ReleaseRecord());
  EXPECT_EQ(second->Record(), nullptr);
  first.reset();
  second.reset();
  EXPECT_EQ(destroyed, std::vector<int>{1});
  kept.reset();
  EXPECT_EQ(destroyed, (std::vector<int>{1, 2}));
}

TEST_F(NacListTest, EmptyListGivesNoneAndStaysEmpty) {
  const int key = 1;
  for (bool locked : {false, true}) {
    if (locked) list_.Lock();
    EXPECT_TRUE(list_.IsEmpty(locked));
    EXPECT_EQ(list_.GetCount(locked), 0);
    EXPECT_EQ(list_.GetHead(locked), nullptr);
    EXPECT_EQ(list_.Search(&key, SameId, locked), nullptr);
    list_.RemoveHead(locked);
    list_.RemoveTail(locked);
    list_.RemoveAll(locked);
    EXPECT_EQ(list_.UnlinkHead(locked), nullptr);
    EXPECT_EQ(list_.UnlinkTail(locked), nullptr);
    EXPECT_EQ(list_.Unlink(nullptr, locked), nullptr);
    list_.Remove(nullptr, locked);
    EXPECT_TRUE(list_.IsEmpty(locked));
    EXPECT_EQ(list_.GetCount(locked), 0);
    if (locked) list_.Unlock();
  }
  // The walk still closes on the sentinel after all that.
  list_.AddTail(Make(1), false);
  EXPECT_EQ(Ids(list_), std::vector<int>{1});
}

TEST_F(NacListTest, RecordsNotInTheListAreLeftAlone) {
  Fill({1, 2});
  Tracked outsider(1, nullptr);  // same id as the head, different record
  list_.RemoveData(&outsider, false);
  EXPECT_EQ(list_.UnlinkData(&outsider, false), nullptr);
  EXPECT_EQ(Ids(list_), (std::vector<int>{1, 2}));
  EXPECT_EQ(list_.GetCount(false), 2);
  EXPECT_TRUE(destroyed_.empty());
}

TEST_F(NacListTest, InsertionsKeepOrderAndCount) {
  list_.AddTail(Make(2), false);
  list_.AddHead(Make(1), false);
  list_.AddTail(Make(4), false);
  list_.InsertAfter(list_.GetHead(false), Make(3), false);  // after 1
  list_.InsertAfter(list_.GetNext(list_.GetHead(false), false), Make(5), false);  // after 3
  EXPECT_EQ(Ids(list_), (std::vector<int>{1, 3, 5, 2, 4}));
  EXPECT_EQ(list_.GetCount(false), 5);
  EXPECT_FALSE(list_.IsEmpty(false));

  // Inserting after the tail makes a new tail, and the walk ends after it.
  CNacNode* tail = list_.GetHead(false);
  while (list_.GetNext(tail, false) != nullptr) tail = list_.GetNext(tail, false);
  EXPECT_EQ(Id(tail), 4);
  list_.InsertAfter(tail, Make(6), false);
  EXPECT_EQ(Id(list_.GetNext(tail, false)), 6);
  EXPECT_EQ(list_.GetNext(list_.GetNext(tail, false), false), nullptr);
  EXPECT_EQ(list_.GetNext(nullptr, false), nullptr);
  EXPECT_EQ(Id(list_.UnlinkTail(false).get()), 6);
}

TEST_F(NacListTest, SearchFindsTheFirstMatchFromTheHead) {
  Fill({1, 2, 3, 2, 5});
  const int two = 2;
  CNacNode* first = list_.Search(&two, SameId, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, list_.GetNext(list_.GetHead(false), false));
  const int missing = 9;
  EXPECT_EQ(list_.Search(&missing, SameId, false), nullptr);
}

TEST_F(NacListTest, SearchFromStartsWithTheGivenNode) {
  Fill({1, 2, 3, 2, 5});
  const int two = 2;
  CNacNode* first = list_.Search(&two, SameId, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(list_.SearchFrom(first, &two, SameId, false), first);

  CNacNode* second = list_.SearchFrom(list_.GetNext(first, false), &two, SameId, false);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(Id(list_.GetNext(second, false)), 5);
  EXPECT_EQ(list_.SearchFrom(list_.GetNext(second, false), &two, SameId, false), nullptr);
  // The successor of the last node is none, and a walk from none finds nothing.
  EXPECT_EQ(list_.SearchFrom(nullptr, &two, SameId, false), nullptr);
}

TEST_F(NacListTest, MatchLoopVisitsEveryMatchOnce) {
  Fill({1, 4, 2, 7, 3, 9});
  const int threshold = 4;
  std::vector<int> seen;
  list_.Lock();
  for (CNacNode* node = list_.Search(&threshold, IdAtLeast, true); node != nullptr;
       node = list_.SearchFrom(list_.GetNext(node, true), &threshold, IdAtLeast, true)) {
    seen.push_back(Id(node));
  }
  list_.Unlock();
  EXPECT_EQ(seen, (std::vector<int>{4, 7, 9}));
}

TEST_F(NacListTest, RemovalsDestroyTheRecordAndCountDown) {
  Fill({1, 2, 3, 4, 5});
  list_.Remove(list_.GetNext(list_.GetHead(false), false), false);  // 2
  EXPECT_EQ(destroyed_, std::vector<int>{2});
  list_.RemoveHead(false);
  list_.RemoveTail(false);
  EXPECT_EQ(destroyed_, (std::vector<int>{2, 1, 5}));
  EXPECT_EQ(Ids(list_), (std::vector<int>{3, 4}));
  EXPECT_EQ(list_.GetCount(false), 2);

  list_.AddTail(Make(6), false);
  Tracked* seven = Make(7);
  list_.AddTail(seven, false);
  list_.AddTail(Make(8), false);
  list_.RemoveData(seven, false);
  EXPECT_EQ(destroyed_.back(), 7);
  EXPECT_EQ(Ids(list_), (std::vector<int>{3, 4, 6, 8}));
  EXPECT_EQ(list_.GetCount(false), 4);
}

TEST_F(NacListTest, UnlinkHandsTheNodeOverWithItsRecord) {
  Fill({1, 2, 3, 4});
  std::unique_ptr<CNacNode> head = list_.UnlinkHead(false);
  std::unique_ptr<CNacNode> tail = list_.UnlinkTail(false);
  ASSERT_TRUE(head && tail);
  EXPECT_EQ(Id(head.get()), 1);
  EXPECT_EQ(Id(tail.get()), 4);
  CNacNode* three = list_.GetNext(list_.GetHead(false), false);
  std::unique_ptr<CNacNode> middle = list_.Unlink(three, false);
  EXPECT_EQ(middle.get(), three);
  EXPECT_TRUE(destroyed_.empty());
  EXPECT_EQ(Ids(list_), std::vector<int>{2});
  EXPECT_EQ(list_.GetCount(false), 1);

  // An unlinked node can be given back to a list by its record.
  list_.AddHead(head->ReleaseRecord(), false);
  EXPECT_EQ(Ids(list_), (std::vector<int>{1, 2}));
  CNacListItem* two = list_.GetNext(list_.GetHead(false), false)->Record();
  std::unique_ptr<CNacNode> byRecord = list_.UnlinkData(two, false);
  ASSERT_TRUE(byRecord);
  EXPECT_EQ(byRecord->Record(), two);
  EXPECT_EQ(Ids(list_), std::vector<int>{1});

  head.reset();
  middle.reset();
  EXPECT_EQ(destroyed_, std::vector<int>{3});
}

TEST_F(NacListTest, RemoveAllAndDestructionDestroyEveryRecord) {
  Fill({1, 2, 3});
  list_.RemoveAll(false);
  EXPECT_EQ(destroyed_, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(list_.IsEmpty(false));
  EXPECT_EQ(list_.GetCount(false), 0);
  EXPECT_EQ(list_.GetHead(false), nullptr);

  Fill({4});  // still usable
  EXPECT_EQ(Ids(list_), std::vector<int>{4});

  std::vector<int> destroyed;
  {
    CNacList local;
    local.AddTail(new Tracked(5, &destroyed), false);
    local.AddTail(new Tracked(6, &destroyed), false);
  }
  EXPECT_EQ(destroyed, (std::vector<int>{5, 6}));
}

TEST(NacListLockTest, HolderCallsOperationsUnlockedWithoutBlocking) {
  auto list = std::make_shared<CNacList>();
  auto ran = std::make_shared<std::atomic<int>>(0);
  const bool finished = FinishesWithin([list, ran] {
    list->Lock();
    list->Lock();
    auto* record = new Tracked(1, nullptr);
    list->AddTail(record, false);
    const int key = 1;
    if (list->Search(&key, SameId, false) != nullptr && list->GetCount(false) == 1) ++*ran;
    list->RemoveData(record, false);
    if (list->IsEmpty(false)) ++*ran;
    list->Unlock();
    list->Unlock();
    // Taken twice, released twice: free again.
    list->Lock();
    list->Unlock();
  });
  ASSERT_TRUE(finished) << "an operation blocked on the lock its own thread holds";
  EXPECT_EQ(*ran, 2);
  // Another thread can take it now.
  EXPECT_TRUE(FinishesWithin([list] { list->GetCount(false); }));
}

TEST(NacListLockTest, HeldLockMakesOtherThreadsWait) {
  CNacList list;
  std::atomic<bool> added{false};
  list.Lock();
  std::thread writer([&] {
    list.AddTail(new Tracked(1, nullptr), false);
    added = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(added);
  EXPECT_EQ(list.GetCount(true), 0);
  list.Unlock();
  writer.join();
  EXPECT_TRUE(added);
  EXPECT_EQ(list.GetCount(false), 1);
}

TEST(NacListLockTest, LockedCallsLeaveTheLockAlone) {
  // While another thread holds the lock, calls that say it is held do not wait for it.
  auto list = std::make_shared<CNacList>();
  std::promise<void> release;
  std::promise<void> holding;
  std::thread holder([&] {
    list->Lock();
    holding.set_value();
    release.get_future().wait();
    list->Unlock();
  });
  holding.get_future().wait();
  EXPECT_TRUE(FinishesWithin([list] {
    list->AddTail(new Tracked(1, nullptr), true);
    list->GetCount(true);
    list->IsEmpty(true);
    list->GetHead(true);
    list->RemoveHead(true);
  })) << "a call with locked true waited for the lock";
  release.set_value();
  holder.join();

  // Nor do they release the caller's hold.
  list->Lock();
  list->AddTail(new Tracked(2, nullptr), true);
  list->RemoveAll(true);
  std::atomic<bool> counted{false};
  std::thread reader([&] {
    list->GetCount(false);
    counted = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(counted) << "a call with locked true gave the lock away";
  list->Unlock();
  reader.join();
}

TEST(NacListLockTest, FailedNodeThrowsAndGivesBackOnlyItsOwnTake) {
  std::vector<int> destroyed;
  auto list = std::make_shared<CNacList>();
  list->AddTail(new Tracked(1, &destroyed), false);
  auto record = std::make_unique<Tracked>(2, &destroyed);

  using Insert = std::function<void(CNacListItem*)>;
  const std::vector<Insert> inserts = {
      [&](CNacListItem* r) { list->AddTail(r, false); },
      [&](CNacListItem* r) { list->AddHead(r, false); },
      [&](CNacListItem* r) { list->InsertAfter(list->GetHead(false), r, false); },
  };
  for (const Insert& insert : inserts) {
    list->Lock();  // the caller's own hold must survive the failure
    std::optional<std::string> thrown;
    failNextAllocation = true;
    try {
      insert(record.get());
    } catch (const ThrownText& e) {
      thrown = e.Text();
    }
    failNextAllocation = false;
    EXPECT_EQ(thrown, "I failed in making of CNacNode.");
    EXPECT_EQ(list->GetCount(true), 1);

    std::atomic<bool> counted{false};
    std::thread reader([&] {
      list->GetCount(false);
      counted = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(counted) << "the failed call released a take that was not its own";
    list->Unlock();
    reader.join();
    EXPECT_TRUE(counted);
  }
  EXPECT_EQ(Ids(*list), std::vector<int>{1});
  EXPECT_TRUE(destroyed.empty()) << "the caller keeps the record when the node fails";
}

// The warnings go to the log; both are the result of misuse, which the list survives.
class NacListLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("syslog.ini", collector_.SyslogIni());
    CloseSyslog();  // the next line re-reads syslog.ini from here
    previousThreshold_ = SetLogThreshold(7);
  }
  void TearDown() override {
    SetLogThreshold(previousThreshold_);
    CloseSyslog();
  }
  std::optional<std::string> NextLine() {
    std::optional<std::string> datagram = collector_.Next();
    if (!datagram) return std::nullopt;
    EXPECT_EQ(datagram->rfind("<12>", 0), 0u) << *datagram;  // user facility, warning
    return testing_support::LogText(*datagram, "");
  }

  testing_support::TempDir dir_;
  testing_support::UdpCollector collector_;
  int previousThreshold_ = 7;
};

TEST_F(NacListLogTest, CountBelowZeroIsLoggedAndTheRemovalGoesOn) {
  CNacList owner;
  owner.AddTail(new Tracked(1, nullptr), false);
  owner.AddTail(new Tracked(2, nullptr), false);
  CNacList other;
  // Removing another list's node through this one drives this one's count below zero.
  std::unique_ptr<CNacNode> node = other.Unlink(owner.GetHead(false), false);
  ASSERT_TRUE(node);
  EXPECT_EQ(NextLine(), "Number of the registration abnormality occurred at the time of deletion.");
  EXPECT_EQ(other.GetCount(false), -1);
  EXPECT_EQ(Ids(owner), std::vector<int>{2});
}

TEST_F(NacListLogTest, ReleaseWithoutHoldIsLogged) {
#if VELNOR_TEST_UNDER_TSAN
  GTEST_SKIP() << "the thread sanitizer stops on the deliberate bad release";
#else
  CNacList list;
  list.Unlock();
  EXPECT_EQ(NextLine(), "I failed in releasing of Mutex.");
  // A holder on another thread is not disturbed either.
  std::promise<void> release;
  std::promise<void> holding;
  std::thread holder([&] {
    list.Lock();
    holding.set_value();
    release.get_future().wait();
    list.Unlock();
  });
  holding.get_future().wait();
  list.Unlock();
  EXPECT_EQ(NextLine(), "I failed in releasing of Mutex.");
  std::atomic<bool> counted{false};
  std::thread reader([&] {
    list.GetCount(false);
    counted = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(counted) << "a release by a stranger freed the holder's lock";
  release.set_value();
  holder.join();
  reader.join();
  list.AddTail(new Tracked(1, nullptr), false);
  EXPECT_EQ(list.GetCount(false), 1);
#endif
}

}  // namespace
