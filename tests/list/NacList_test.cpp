#include "list/NacList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/FixedPool.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {
thread_local bool failNextAllocation = false;  // makes the next operator new of this thread throw
// Nodes come from a pool, which would meet the failure only when it needs a new slab.
[[maybe_unused]] const bool kNodesFromTheHeap = (FixedPool::TakeEachBlockFromTheHeap(), true);
}  // namespace

void* operator new(std::size_t size) {
  if (failNextAllocation) {
    failNextAllocation = false;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

struct Tracked : CNacListItem {  // tells its destruction
  Tracked(int id, std::vector<int>* destroyed) : id(id), destroyed(destroyed) {}
  ~Tracked() override { destroyed != nullptr ? destroyed->push_back(id) : void(); }
  const int id;
  std::vector<int>* destroyed;
};

int Id(const CNacNode* node) { return node->RecordAs<Tracked>()->id; }

std::vector<int> Ids(CNacList& list) {
  std::vector<int> ids;
  for (const Tracked* record : testing_support::Records<Tracked>(list)) ids.push_back(record->id);
  return ids;
}

class NacListTest : public ::testing::Test {
 protected:
  Tracked* Make(int id) { return new Tracked(id, &destroyed_); }
  void Fill(std::vector<int> ids) { for (int id : ids) list_.AddTail(Make(id), false); }
  std::vector<int> destroyed_;
  CNacList list_;
};

// The calls the registries and queues make; a removed tail leaves the list appendable.
TEST_F(NacListTest, AddRemoveAndUnlinkKeepOrderCountAndOwnership) {
  Fill({1, 2, 3, 4, 5});
  list_.Remove(list_.GetNext(list_.GetHead(false), false), false);
  list_.RemoveHead(false);
  Tracked outsider(4, nullptr);  // same id as a record, but not in the list
  list_.RemoveData(&outsider, false);
  EXPECT_EQ(Ids(list_), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(list_.GetCount(false), 3);
  list_.RemoveData(list_.GetNext(list_.GetNext(list_.GetHead(false), false), false)->Record(), false);
  EXPECT_EQ(destroyed_, (std::vector<int>{2, 1, 5}));

  std::unique_ptr<CNacNode> head = list_.UnlinkHead(false);
  ASSERT_TRUE(head);
  EXPECT_EQ(Id(head.get()), 3);
  EXPECT_EQ(destroyed_.size(), 3u) << "an unlinked node keeps its record until it goes";
  head.reset();
  Fill({6});
  EXPECT_EQ(Ids(list_), (std::vector<int>{4, 6}));
  list_.RemoveAll(false);
  EXPECT_EQ(destroyed_, (std::vector<int>{2, 1, 5, 3, 4, 6}));
  EXPECT_TRUE(list_.IsEmpty(false));
}

// How many takes of the lock this thread holds, read without a second thread: an Unlock
// beyond them is refused with a log line. A mark sent after the calls ends the lines to
// read, and lines from one socket arrive in order, so no wait decides the outcome.
class NacListLockTest : public ::testing::Test {
 protected:
  NacListLockTest() { collector_->TakeTheLog(); }
  ~NacListLockTest() override { CloseSyslog(); }
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the Unlock too many that reads the depth is, to the thread sanitizer, a fault of its own";
#endif
  }

  // The refusals among count calls of Unlock.
  int RefusedUnlocks(int count) {
    for (int i = 0; i < count; ++i) list_.Unlock();
    SyslogSend(6, "mark");
    const auto lines = collector_->Until("mark");
    EXPECT_TRUE(lines.has_value()) << "the mark did not arrive";
    int refused = 0;
    for (const std::string& line : testing_support::LogTexts(lines.value_or(std::vector<std::string>{}), "")) {
      refused += line == "I failed in releasing of Mutex." ? 1 : 0;
    }
    return refused;
  }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
  CNacList list_;
};

// Taken twice, it is released by the second Unlock only; a call told that the caller holds
// the lock neither takes nor releases it.
TEST_F(NacListLockTest, LockIsReentrantAndLockedCallsLeaveItAlone) {
  list_.Lock();
  list_.Lock();
  list_.AddTail(new Tracked(1, nullptr), false);
  list_.AddTail(new Tracked(2, nullptr), true);
  list_.RemoveHead(true);
  EXPECT_EQ(list_.GetCount(true), 1);
  EXPECT_EQ(RefusedUnlocks(2), 0);
  EXPECT_EQ(RefusedUnlocks(1), 1);
}

TEST_F(NacListLockTest, FailedNodeThrowsItsTextAndKeepsTheCallersHold) {
  std::vector<int> destroyed;
  list_.AddTail(new Tracked(1, nullptr), false);
  Tracked record(2, &destroyed);
  list_.Lock();
  std::string thrown;
  failNextAllocation = true;
  try {
    list_.AddTail(&record, false);
  } catch (const ThrownText& e) {
    thrown = e.Text();
  }
  failNextAllocation = false;
  EXPECT_EQ(thrown, "I failed in making of CNacNode.");
  EXPECT_EQ(RefusedUnlocks(2), 1) << "the failed call released a take that was not its own, or kept its own";
  EXPECT_EQ(Ids(list_), std::vector<int>{1});
  EXPECT_TRUE(destroyed.empty());
}

}  // namespace
