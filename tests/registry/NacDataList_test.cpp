#include "registry/NacDataList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kAccept = CNacData::kAccept;
constexpr std::int32_t kDrop = CNacData::kDrop;

std::unique_ptr<CNacData> Entry(std::int32_t target, const char* source, const char* mac = "") {
  auto entry = std::make_unique<CNacData>();
  entry->target = target;
  EXPECT_TRUE(entry->SetSource(source));
  EXPECT_TRUE(entry->SetMac(mac));
  return entry;
}

class NacDataListTest : public ::testing::Test {
 protected:
  // The stored entry, or none when AddUnique refused it.
  CNacData* Add(std::int32_t target, const char* source, const char* mac = "", std::int32_t added = 1) {
    auto entry = Entry(target, source, mac);
    entry->added = added;
    if (list_.AddUnique(entry.get()) != 0) return nullptr;
    return entry.release();
  }

  std::vector<std::int32_t> DeletedFlags() {
    std::vector<std::int32_t> flags;
    for (CNacNode* node = list_.GetHead(false); node != nullptr; node = list_.GetNext(node, false)) {
      flags.push_back(node->RecordAs<CNacData>()->deleted);
    }
    return flags;
  }

  CNacDataList list_;
};

TEST_F(NacDataListTest, EntryWithoutMacCoversEveryMacOfItsSourceButNotTheOtherWay) {
  ASSERT_NE(Add(kAccept, "192.168.0.1", "00:11:22:33:44:55"), nullptr);
  EXPECT_EQ(Add(kAccept, "192.168.0.1"), nullptr);
  EXPECT_EQ(Add(kAccept, "192.168.0.1", "00:00:00:00:00:00"), nullptr);  // the zero MAC is none
  EXPECT_EQ(list_.GetCount(false), 1);

  CNacDataList reversed;
  auto bare = Entry(kAccept, "192.168.0.1");
  auto bound = Entry(kAccept, "192.168.0.1", "00:11:22:33:44:55");
  ASSERT_EQ(reversed.AddUnique(bare.release()), 0);
  ASSERT_EQ(reversed.AddUnique(bound.get()), 0);
  bound.release();
  EXPECT_EQ(reversed.GetCount(false), 2);
}

TEST_F(NacDataListTest, AcceptAndDropOfOneSourceAreTwoEntries) {
  EXPECT_NE(Add(kAccept, "192.168.0.1"), nullptr);
  EXPECT_NE(Add(kDrop, "192.168.0.1"), nullptr);
  EXPECT_NE(Add(kAccept, "192.168.0.2"), nullptr);
  EXPECT_EQ(list_.GetCount(false), 3);
}

TEST_F(NacDataListTest, DeleteWithoutMacMarksEveryMacOfTheSourceAndTargetWithMacOnlyThatOne) {
  Add(kAccept, "192.168.0.1", "00:11:22:33:44:55");
  Add(kAccept, "192.168.0.1", "00:11:22:33:44:66");
  Add(kDrop, "192.168.0.1", "00:11:22:33:44:55");
  Add(kAccept, "192.168.0.2", "00:11:22:33:44:55");
  ASSERT_EQ(list_.GetCount(false), 4);

  list_.MarkDeleted(*Entry(kAccept, "192.168.0.1", "00-11-22-33-44-66"));
  EXPECT_EQ(DeletedFlags(), (std::vector<std::int32_t>{0, 1, 0, 0}));
  list_.MarkDeleted(*Entry(kAccept, "192.168.0.1"));
  EXPECT_EQ(DeletedFlags(), (std::vector<std::int32_t>{1, 1, 0, 0}));
}

TEST_F(NacDataListTest, MacIsStoredUpperCaseWithColons) {
  for (const char* given : {"0a-1b-2c-3d-4e-5f", "0a1b2c3d4e5f", "0A:1b:2C:3d:4E:5f"}) {
    CNacDataList list;
    auto entry = Entry(kAccept, "192.168.0.1", given);
    CNacData* stored = entry.get();
    ASSERT_EQ(list.AddUnique(entry.release()), 0) << given;
    EXPECT_EQ(stored->macText, "0A:1B:2C:3D:4E:5F") << given;
    EXPECT_EQ(list.FindLive(*Entry(kAccept, "192.168.0.1", "0a:1b:2c:3d:4e:5f"), false), stored) << given;
  }
}

TEST_F(NacDataListTest, DeletedEntryCanBeAddedAgainAndBothStand) {
  CNacData* old = Add(kAccept, "192.168.0.1", "00:11:22:33:44:55");
  list_.MarkDeleted(*Entry(kAccept, "192.168.0.1"));
  CNacData* fresh = Add(kAccept, "192.168.0.1", "00:11:22:33:44:55");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(list_.GetCount(false), 2);
  const auto key = Entry(kAccept, "192.168.0.1");
  EXPECT_EQ(list_.FindDeleted(*key, false), old);
  EXPECT_EQ(list_.FindLive(*key, false), fresh);
}

TEST_F(NacDataListTest, FindAddedAndFindDeletedGiveTheFirstInListOrder) {
  CNacData* first = Add(kAccept, "192.168.0.1", "00:00:00:00:00:01", 0);
  CNacData* second = Add(kAccept, "192.168.0.1", "00:00:00:00:00:02");
  CNacData* third = Add(kAccept, "192.168.0.1", "00:00:00:00:00:03");
  const auto key = Entry(kAccept, "192.168.0.1");
  EXPECT_EQ(list_.FindAdded(*key, false), second);

  // Marked in reverse order: list order still decides.
  list_.MarkDeleted(*Entry(kAccept, "192.168.0.1", "00:00:00:00:00:03"));
  list_.MarkDeleted(*Entry(kAccept, "192.168.0.1", "00:00:00:00:00:02"));
  EXPECT_EQ(list_.FindDeleted(*key, false), second);
  EXPECT_EQ(list_.FindLive(*key, false), first);
  list_.RemoveData(second, false);
  EXPECT_EQ(list_.FindAdded(*key, false), third);
  EXPECT_EQ(list_.FindDeleted(*key, false), third);
  EXPECT_EQ(list_.FindDeleted(*Entry(kDrop, "192.168.0.1"), false), nullptr);
}

}  // namespace
