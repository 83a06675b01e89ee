// Each registry's searches against a plain walk with its own rules, over seeded random
// sequences of the operations that change it. VELNOR_SEED replays one seed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

// Small value sets, so that records and keys collide often.
const char* Pick(std::mt19937& random, std::initializer_list<const char*> choices) {
  return choices.begin()[random() % choices.size()];
}

// One registry: its rules, a random record maker, and its file if it has one.
template <class L, class R, auto MatchRule, auto IdentityRule = MatchRule, const char* File = nullptr>
struct Registry {
  using List = L;
  using Record = R;
  static constexpr const char* kFile = File;
  static constexpr auto Match = MatchRule;
  static constexpr auto Identity = IdentityRule;
  static bool Shaped(const Record&) { return true; }
};

struct Nac : Registry<CNacDataList, CNacData, &CNacDataList::Matches> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto e = std::make_unique<Record>();
    e->SetSource(Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    e->SetMac(Pick(random, {"", "00:00:00:00:00:00", "00:11:22:33:44:55", "00-11-22-33-44-55", "aabbccddeeff"}));
    e->target = static_cast<std::int32_t>(1 + random() % 2);
    return e;
  }
};

constexpr char kQuarantineFile[] = "quarantine.csv";
struct Quarantine : Registry<CQuarantineDataList, CQuarantineData, &CQuarantineDataList::Matches,
                             &CQuarantineDataList::Matches, kQuarantineFile> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto server = std::make_unique<Record>();
    server->SetSource(Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    server->protocol = Pick(random, {"tcp", "udp"});
    server->SetPort(Pick(random, {"80", "080", "443"}));
    return server;
  }
};

constexpr char kPcFile[] = "pc.csv";
struct Pc : Registry<CPcDataList, CPcData, &CPcDataList::MatchRule, &CPcDataList::IdentityRule, kPcFile> {
  static bool Shaped(const Record& pc) {
    return !(pc.HasSource() && pc.HasNetwork()) && (pc.HasMac() || (!pc.HasSource() && pc.HasNetwork()));
  }
  // Any combination of the fields, so refused shapes and odd keys come up too.
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto pc = std::make_unique<Record>();
    pc->SetMac(Pick(random, {"", "", "", "00:00:00:00:00:01", "00-00-00-00-00-01", "00:00:00:00:00:02"}));
    pc->SetSource(Pick(random, {"", "", "", "10.0.0.1", "10.0.0.2"}));
    pc->SetNetwork(Pick(random, {"", "", "", "192.168.0.0", "192.168.0.77", "192.168.1.0", "0.0.0.0"}));
    pc->SetNetmask(Pick(random, {"", "", "255.255.255.0", "255.255.0.0", "0.0.0.0"}));
    return pc;
  }
};

constexpr char kGwFile[] = "gw.csv";
struct Gw : Registry<CGwDataList, CGwData, &CGwDataList::MatchRule, &CGwDataList::IdentityRule, kGwFile> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto gateway = std::make_unique<Record>();
    gateway->addressText = Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
    ParseIPv4Value(gateway->addressText.c_str(), gateway->address);
    gateway->portText = Pick(random, {"", "880", "8080"});
    gateway->port = ParseNumberInRange(gateway->portText.c_str(), 1, 65535);
    return gateway;
  }
};

struct Gwroute : Registry<CGwrouteDataList, CGwrouteData, &CGwrouteDataList::MatchRule, &CGwrouteDataList::IdentityRule> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto route = std::make_unique<Record>();
    route->device = Pick(random, {"", "eth0"});
    route->networkText = Pick(random, {"192.168.0.0", "192.168.0.77", "192.168.1.0", "10.0.0.0"});
    route->netmaskText = Pick(random, {"", "255.255.255.0", "255.255.0.0"});
    ParseIPv4Value(route->networkText.c_str(), route->network);
    if (!route->netmaskText.empty()) ParseIPv4Value(route->netmaskText.c_str(), route->netmask);
    return route;
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

// The first record that matches key and passes the flag test, found by walking the list.
template <class T, class Passes>
typename T::Record* Walk(CNacList& list, const typename T::Record& key, Passes passes) {
  for (auto* record : Records<typename T::Record>(list)) {
    if (passes(*record) && T::Match(*record, key)) return record;
  }
  return nullptr;
}

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
      const int result = list.AddUnique(record.get());
      ASSERT_EQ(result, taken ? -1 : 0) << "AddUnique";
      if (result == 0) record.release();
    } else if (operation == 7) {  // no identity check: live twins, out of append order
      auto record = T::Make(random);
      if (!T::Shaped(*record)) continue;
      some != nullptr ? list.InsertAfter(list.GetHead(false), record.release(), false)
                      : list.AddHead(record.release(), false);
    } else if (operation < 10) {
      const auto key = T::Make(random);
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
      list.CopyAll(copy.get());
      active = std::move(copy);
    } else if (operation == 17) {
      if (random() % 8 == 0) list.RemoveAll(false);
    } else if (operation == 18) {
      if constexpr (T::kFile != nullptr) {
        if (random() % 4 == 0 && list.Save(T::kFile) == 0) list.Load(T::kFile);
      }
    }
    auto& searched = *active;
    for (int probe = 0; probe < 4; ++probe) {
      const auto key = T::Make(random);
      CNacList::Guard guard(searched);
      ASSERT_EQ(searched.FindLive(*key, guard), Walk<T>(searched, *key, [](auto& r) { return r.IsLive(); }));
      ASSERT_EQ(searched.FindAdded(*key, guard), Walk<T>(searched, *key, [](auto& r) { return r.added != 0; }));
      ASSERT_EQ(searched.FindDeleted(*key, guard), Walk<T>(searched, *key, [](auto& r) { return !r.IsLive(); }));
    }
  }
}

template <class T>
class RegistryIndexTest : public ::testing::Test {};
using Registries = ::testing::Types<Nac, Quarantine, Pc, Gw, Gwroute>;
TYPED_TEST_SUITE(RegistryIndexTest, Registries);

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

}  // namespace
