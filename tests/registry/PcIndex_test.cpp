// The PC registry's indexed searches against a plain walk with the same rules, over random
// operations on a small value space so that collisions are frequent. VELNOR_SEED replays a
// failing seed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "registry/PcDataList.h"
#include "tests/common/TempDir.h"

namespace {

class Differential {
 public:
  explicit Differential(unsigned seed) : random_(seed) {}

  void Run(int steps) {
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      Operate();
      for (int probe = 0; probe < 4; ++probe) CompareFinds(*Record());
    }
  }

 private:
  const char* Pick(std::initializer_list<const char*> values) {
    return values.begin()[Below(values.size())];
  }
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

  // Any combination of the fields, so refused shapes and odd keys (a netmask without a
  // network, 0.0.0.0) come up too; each field is missing about half the time.
  std::unique_ptr<CPcData> Record() {
    auto pc = std::make_unique<CPcData>();
    pc->SetMac(Pick({"", "", "", "00:00:00:00:00:01", "00-00-00-00-00-01", "00:00:00:00:00:02", "0000000000aa"}));
    pc->SetSource(Pick({"", "", "", "10.0.0.1", "10.0.0.2"}));
    pc->SetNetwork(Pick({"", "", "", "192.168.0.0", "192.168.0.77", "192.168.1.0", "0.0.0.0"}));
    pc->SetNetmask(Pick({"", "", "255.255.255.0", "255.255.0.0", "0.0.0.0"}));
    return pc;
  }

  std::vector<CPcData*> Records() {
    std::vector<CPcData*> records;
    for (CNacNode* node = list_->GetHead(false); node != nullptr; node = list_->GetNext(node, false)) {
      records.push_back(node->RecordAs<CPcData>());
    }
    return records;
  }

  static int ExpectedAdd(const std::vector<CPcData*>& present, const CPcData& pc) {
    if (pc.HasSource() && pc.HasNetwork()) return -1;
    if (!pc.HasMac() && (pc.HasSource() || !pc.HasNetwork())) return -1;
    for (const CPcData* record : present) {
      if (record->IsLive() && CPcDataList::IdentityRule(*record, pc)) return -1;
    }
    return 0;
  }

  void Operate() {
    const std::size_t choice = Below(100);
    if (choice < 50) {
      auto pc = Record();
      pc->added = 1;
      const int expected = ExpectedAdd(Records(), *pc);
      ASSERT_EQ(list_->AddUnique(pc.get()), expected);
      if (expected == 0) pc.release();
    } else if (choice < 65) {
      auto key = Record();
      std::vector<CPcData*> records = Records();
      std::vector<bool> marks;
      for (CPcData* record : records) marks.push_back(!record->IsLive() || CPcDataList::MatchRule(*record, *key));
      list_->MarkDeleted(*key);
      for (std::size_t i = 0; i < records.size(); ++i) ASSERT_EQ(!records[i]->IsLive(), marks[i]) << i;
    } else if (choice < 80) {
      std::vector<CPcData*> records = Records();
      if (!records.empty()) records[Below(records.size())]->added = 0;  // as the ACL engine does
    } else if (choice < 92) {
      std::vector<CPcData*> deleted;
      for (CPcData* record : Records()) {
        if (!record->IsLive()) deleted.push_back(record);
      }
      if (!deleted.empty()) list_->RemoveData(deleted[Below(deleted.size())], false);
    } else if (choice < 94) {
      list_->MarkAllDeleted(1);
    } else if (choice < 95) {
      list_->RemoveAll(false);
    } else if (choice < 97) {
      // Live records were added in list order, so the file reloads whole.
      std::size_t live = 0;
      for (CPcData* record : Records()) live += record->IsLive() ? 1 : 0;
      ASSERT_EQ(list_->Save("pc.csv"), 0);
      ASSERT_EQ(list_->Load("pc.csv"), 0);
      std::size_t reloaded = 0;
      for (CPcData* record : Records()) reloaded += record->IsLive() ? 1 : 0;
      ASSERT_EQ(reloaded, live);
    } else {
      // The copy takes what its own identity check lets in, then carries on as the list.
      std::vector<CPcData*> kept;
      for (CPcData* record : Records()) {
        if (ExpectedAdd(kept, *record) == 0) kept.push_back(record);
      }
      auto copy = std::make_unique<CPcDataList>();
      ASSERT_EQ(list_->CopyAll(copy.get()), static_cast<int>(kept.size()));
      std::swap(list_, copy);
    }
  }

  void CompareFinds(const CPcData& key) {
    const CPcData* live = nullptr;
    const CPcData* added = nullptr;
    const CPcData* deleted = nullptr;
    for (CPcData* record : Records()) {
      if (!CPcDataList::MatchRule(*record, key)) continue;
      if (live == nullptr && record->IsLive()) live = record;
      if (added == nullptr && record->added != 0) added = record;
      if (deleted == nullptr && !record->IsLive()) deleted = record;
    }
    ASSERT_EQ(list_->FindLive(key, false), live);
    ASSERT_EQ(list_->FindAdded(key, false), added);
    ASSERT_EQ(list_->FindDeleted(key, false), deleted);
  }

  std::mt19937 random_;
  std::unique_ptr<CPcDataList> list_ = std::make_unique<CPcDataList>();
};

TEST(PcIndexTest, IndexedSearchesEqualThePlainWalk) {
  testing_support::TempDir dir;
  const char* replay = std::getenv("VELNOR_SEED");
  const unsigned first = replay != nullptr ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10)) : std::random_device{}();
  const int runs = replay != nullptr ? 1 : 8;
  for (int run = 0; run < runs && !HasFailure(); ++run) {
    const unsigned seed = first + static_cast<unsigned>(run);
    SCOPED_TRACE("VELNOR_SEED=" + std::to_string(seed));
    Differential(seed).Run(3000);
  }
}

}  // namespace
