// The indexed searches of the NAC and quarantine registries against a plain walk with the
// same rules, over seeded random sequences of the operations that change the lists.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "registry/NacDataList.h"
#include "registry/QuarantineDataList.h"
#include "tests/common/TempDir.h"

namespace {

template <std::size_t N>
const char* Pick(std::mt19937& random, const char* const (&choices)[N]) {
  return choices[random() % N];
}

// Small value sets, so that keys often meet records that match them.
struct NacCase {
  using List = CNacDataList;
  using Record = CNacData;
  static constexpr bool kHasFile = false;

  static std::unique_ptr<CNacData> Make(std::mt19937& random) {
    static const char* const kSources[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    static const char* const kMacs[] = {"", "00:00:00:00:00:00", "00:11:22:33:44:55", "00-11-22-33-44-55", "aabbccddeeff"};
    auto entry = std::make_unique<CNacData>();
    entry->SetSource(Pick(random, kSources));
    entry->SetMac(Pick(random, kMacs));
    entry->target = static_cast<std::int32_t>(1 + random() % 2);
    entry->added = static_cast<std::int32_t>(random() % 2);
    return entry;
  }

  static std::string Text(const CNacData& entry) {
    char mac[13];
    std::snprintf(mac, sizeof mac, "%02x%02x%02x%02x%02x%02x", entry.mac[0], entry.mac[1], entry.mac[2], entry.mac[3],
                  entry.mac[4], entry.mac[5]);
    return entry.sourceText + "/" + std::to_string(entry.source) + " " + std::to_string(entry.target) + " " +
           entry.macText + "/" + mac + " " + std::to_string(entry.added) + std::to_string(entry.deleted);
  }
};

struct QuarantineCase {
  using List = CQuarantineDataList;
  using Record = CQuarantineData;
  static constexpr bool kHasFile = true;

  static std::unique_ptr<CQuarantineData> Make(std::mt19937& random) {
    static const char* const kSources[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    static const char* const kProtocols[] = {"tcp", "udp"};
    static const char* const kPorts[] = {"80", "080", "443"};
    auto server = std::make_unique<CQuarantineData>();
    server->SetSource(Pick(random, kSources));
    server->protocol = Pick(random, kProtocols);
    server->SetPort(Pick(random, kPorts));
    server->added = static_cast<std::int32_t>(random() % 2);
    return server;
  }

  static std::string Text(const CQuarantineData& server) {
    return server.sourceText + "/" + std::to_string(server.source) + " " + server.protocol + " " + server.portText +
           "/" + std::to_string(server.port) + " " + std::to_string(server.added) + std::to_string(server.deleted);
  }
};

template <class Record>
std::vector<Record*> Records(CNacList& list) {
  std::vector<Record*> records;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    records.push_back(node->RecordAs<Record>());
  }
  return records;
}

template <class Case>
std::vector<std::string> Texts(typename Case::List& list) {
  std::vector<std::string> texts;
  for (const auto* record : Records<typename Case::Record>(list)) texts.push_back(Case::Text(*record));
  return texts;
}

enum class Flag { kLive, kAdded, kDeleted };

template <class Case>
typename Case::Record* Walk(typename Case::List& list, const typename Case::Record& key, Flag flag) {
  for (auto* record : Records<typename Case::Record>(list)) {
    const bool passes = flag == Flag::kLive ? record->deleted == 0 : flag == Flag::kAdded ? record->added != 0 : record->deleted != 0;
    if (passes && Case::List::Matches(*record, key)) return record;
  }
  return nullptr;
}

template <class Case>
void RunSequence(std::uint32_t seed, int steps) {
  using Record = typename Case::Record;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  typename Case::List lists[2];
  for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    const unsigned which = random() % 2;
    auto& list = lists[which];
    auto& other = lists[1 - which];
    const std::vector<Record*> records = Records<Record>(list);
    const unsigned operation = random() % 100;
    if (operation < 40) {
      auto record = Case::Make(random);
      const int expected = Walk<Case>(list, *record, Flag::kLive) == nullptr ? 0 : -1;
      const int result = list.AddUnique(record.get());
      EXPECT_EQ(result, expected) << "AddUnique";
      if (result == 0) record.release();
    } else if (operation < 55) {
      const auto key = Case::Make(random);
      std::vector<std::int32_t> expected;
      for (const Record* record : records) expected.push_back(record->deleted || Case::List::Matches(*record, *key) ? 1 : 0);
      list.MarkDeleted(*key);
      std::vector<std::int32_t> flags;
      for (const Record* record : records) flags.push_back(record->deleted);
      EXPECT_EQ(flags, expected) << "MarkDeleted";
    } else if (operation < 58) {
      list.MarkAllDeleted(1);
    } else if (operation < 72) {
      if (!records.empty()) list.RemoveData(records[random() % records.size()], false);
    } else if (operation < 80) {
      if (!records.empty()) records[random() % records.size()]->added ^= 1;
    } else if (operation < 85) {
      EXPECT_EQ(other.CopyAll(&list), other.GetCount(false));
      EXPECT_EQ(Texts<Case>(list), Texts<Case>(other)) << "CopyAll";
    } else if (operation == 85) {
      // Rare: every save syncs the file to disk.
      if constexpr (Case::kHasFile) {
        std::vector<std::string> expected;
        for (Record* record : records) {
          record->deleted = 1;
          expected.push_back(Case::Text(*record));
        }
        for (Record* record : Records<Record>(other)) {
          if (!record->IsLive()) continue;
          Record loaded = *record;
          loaded.added = 1;
          expected.push_back(Case::Text(loaded));
        }
        ASSERT_EQ(other.Save("quarantine.csv"), 0);
        EXPECT_EQ(list.Load("quarantine.csv"), 0);
        EXPECT_EQ(Texts<Case>(list), expected) << "Save and Load";
      }
    }
    for (int probe = 0; probe < 4; ++probe) {
      const auto key = Case::Make(random);
      EXPECT_EQ(list.FindLive(*key, false), Walk<Case>(list, *key, Flag::kLive)) << "FindLive";
      EXPECT_EQ(list.FindAdded(*key, false), Walk<Case>(list, *key, Flag::kAdded)) << "FindAdded";
      EXPECT_EQ(list.FindDeleted(*key, false), Walk<Case>(list, *key, Flag::kDeleted)) << "FindDeleted";
    }
  }
}

TEST(NacQuarantineIndexTest, NacSearchesAgreeWithAWalk) {
  for (std::uint32_t seed = 1; seed <= 10; ++seed) RunSequence<NacCase>(seed, 1500);
}

TEST(NacQuarantineIndexTest, QuarantineSearchesAgreeWithAWalk) {
  testing_support::TempDir dir;
  for (std::uint32_t seed = 1; seed <= 10; ++seed) RunSequence<QuarantineCase>(seed, 1500);
}

}  // namespace
