#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/PcDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"

// Several threads at once on a list, and on one PC registry and one gateway registry (with
// routes): the snapshots and saved files are checked as they are taken, the registries at
// the end.

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

std::string Dotted(int a, int b, int c, int d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

// What is wrong with list, or "": a record walked twice, a count that is not the nodes
// walked, two live records of one identity. live receives the number of live records.
template <class Record, class List>
std::string Problem(List& list, bool (*identity)(const Record&, const Record&), int* live = nullptr) {
  CNacList::Guard guard(list, false);
  std::unordered_set<const Record*> seen;
  std::vector<const Record*> alive;
  for (CNacNode* node = list.GetHead(true); node != nullptr; node = list.GetNext(node, true)) {
    const Record* record = node->RecordAs<Record>();
    if (!seen.insert(record).second) return "a record appears twice in the walk";
    if (record->IsLive()) alive.push_back(record);
    if constexpr (std::is_same_v<Record, CGwData>) {
      const std::string routes = Problem<CGwrouteData>(const_cast<CGwData*>(record)->Routes(), nullptr);
      if (!routes.empty()) return "routes of " + record->addressText + ": " + routes;
    }
  }
  if (list.GetCount(true) != static_cast<int>(seen.size())) return "the count is not the nodes walked";
  for (std::size_t b = 0; identity != nullptr && b < alive.size(); ++b) {
    for (std::size_t a = 0; a < b; ++a) {
      if (identity(*alive[a], *alive[b])) return "two live records share an identity";
    }
  }
  if (live != nullptr) *live = static_cast<int>(alive.size());
  return "";
}

// PC i has shape i mod 4 (MAC, MAC with source, MAC with network, network); PCs 2k and
// 2k+1 share a MAC or a network, so that identities clash across shapes.
std::unique_ptr<CPcData> MakePc(int i) {
  auto pc = std::make_unique<CPcData>();
  char mac[24];
  std::snprintf(mac, sizeof mac, i % 8 < 4 ? "02:00:00:00:%02X:%02X" : "02-00-00-00-%02x-%02x", i / 512, i / 2 % 256);
  const std::string network = Dotted(10, i / 512, i / 2 % 256, 0);
  bool valid = (i % 4 == 3 || pc->SetMac(mac)) && (i % 4 != 1 || pc->SetSource(Dotted(192, 168, 0, i).c_str()));
  if (i % 4 >= 2) valid = valid && pc->SetNetwork(network.c_str()) && pc->SetNetmask("255.255.255.0");
  EXPECT_TRUE(valid) << "PC " << i;
  return pc;
}

// Gateway i, with two of six routes.
std::unique_ptr<CGwData> MakeGateway(int i) {
  auto gateway = std::make_unique<CGwData>();
  gateway->addressText = Dotted(10, 0, 0, i + 1);
  EXPECT_TRUE(ParseIPv4Value(gateway->addressText.c_str(), gateway->address));
  for (int r = i % 5; r < i % 5 + 2; ++r) {
    auto route = std::make_unique<CGwrouteData>();
    route->device = r % 2 == 0 ? "" : "eth1";
    route->networkText = Dotted(192, 168, r, 0);
    route->netmaskText = "255.255.255.0";
    EXPECT_TRUE(ParseIPv4Value(route->networkText.c_str(), route->network) &&
                ParseIPv4Value(route->netmaskText.c_str(), route->netmask));
    EXPECT_EQ(gateway->Routes().AddUnique(route.release()), 0);
  }
  return gateway;
}

// The registry's files: 0 when written or read whole; a load gives -1 when a record clashed
// with a live one, and -2 when the gateways' routes did not load.
int SaveFiles(CPcDataList& list, const std::string& path) { return list.Save(path.c_str()); }
int LoadFiles(CPcDataList& list, const std::string& path) { return list.Load(path.c_str()); }
int SaveFiles(CGwDataList& list, const std::string& path) {
  return list.Save(path.c_str()) == 0 && SaveGwroutes(list, (path + ".routes").c_str()) == 0 ? 0 : -1;
}
int LoadFiles(CGwDataList& list, const std::string& path) {
  const int result = list.Load(path.c_str());
  return LoadGwroutes(list, (path + ".routes").c_str()) == GwrouteLoadResult::kLoaded ? result : -2;
}

// One thread's work on the shared list for a second (and at least 40 rounds).
template <class List, class Record>
void Work(List& shared, std::unique_ptr<Record> (*make)(int), int pool, const std::string& prepared,
          const std::string& file, unsigned seed) {
  std::mt19937 random(seed);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
  for (int round = 0; round < 40 || std::chrono::steady_clock::now() < end; ++round) {
    std::unique_ptr<Record> record = make(static_cast<int>(random() % pool));
    switch (random() % 7) {
      case 0:  // now and then a load of the prepared files; a clash with a concurrent add is fair
        if (random() % 4 == 0) {
          const int result = LoadFiles(shared, prepared);
          EXPECT_TRUE(result == 0 || result == -1) << result;
        }
        break;
      case 1:
        shared.MarkDeleted(*record);
        break;
      case 2: {  // a search, and the erasure of a deleted record under the lock that found it
        CNacList::Guard guard(shared, false);
        const Record* live = shared.FindLive(*record, guard);
        EXPECT_TRUE(live == nullptr || (live->IsLive() && List::MatchRule(*live, *record)));
        const Record* deleted = shared.FindDeleted(*record, guard);
        EXPECT_TRUE(deleted == nullptr || (deleted->deleted != 0 && List::MatchRule(*deleted, *record)));
        if (deleted != nullptr) shared.RemoveData(deleted, true);
        break;
      }
      case 3: {  // a snapshot and a save together, the saved files loaded back into a fresh list
        List snapshot;
        List reloaded;
        int copied = 0;
        int live = -1;
        {
          CNacList::Guard guard(shared, false);
          copied = shared.CopyAll(&snapshot);
          ASSERT_EQ(SaveFiles(shared, file), 0);
        }
        EXPECT_EQ(copied, snapshot.GetCount(false));
        EXPECT_EQ(Problem(snapshot, &List::IdentityRule, &live), "");
        EXPECT_EQ(LoadFiles(reloaded, file), 0);
        EXPECT_EQ(reloaded.GetCount(false), live);
        EXPECT_EQ(Problem(reloaded, &List::IdentityRule), "");
        break;
      }
      default:  // a new record, a repeat or a clash
        if (shared.AddUnique(record.get()) == 0) (void)record.release();
        break;
    }
    if (::testing::Test::HasFailure()) return;
  }
}

template <class List, class Record>
void RunThreads(const testing_support::TempDir& dir, const std::string& name, std::unique_ptr<Record> (*make)(int),
                int pool) {
  List shared;
  const std::string prepared = dir.File(name + "-prepared.csv");
  List list;  // every other record of the pool: no two of them clash
  for (int i = 0; i < pool; i += 2) ASSERT_EQ(list.AddUnique(make(i).release()), 0) << i;
  ASSERT_EQ(SaveFiles(list, prepared), 0);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    const std::string file = dir.File(name + "-" + std::to_string(t) + ".csv");
    threads.emplace_back([&, file, t] { Work(shared, make, pool, prepared, file, t + 1); });
  }
  for (std::thread& thread : threads) thread.join();

  int live = -1;
  EXPECT_EQ(Problem(shared, &List::IdentityRule, &live), "");
  // On the quiet list a load of the prepared files takes it over whatever the threads left.
  ASSERT_EQ(LoadFiles(shared, prepared), 0);
  EXPECT_EQ(Problem(shared, &List::IdentityRule, &live), "");
  EXPECT_EQ(live, pool / 2);
}

struct Queued : CNacListItem {
  explicit Queued(int id) : id(id) {}
  const int id;
};

// Producers add at both ends of a plain list while consumers take from the head and the
// tail: every item comes out exactly once, and the list ends empty with a zero count.
TEST(RegistryThreadsTest, EveryQueuedItemComesOutOnce) {
  constexpr int kProducers = 3, kPerProducer = 4000, kTotal = kProducers * kPerProducer;
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
        if (std::unique_ptr<CNacNode> node = fromHead ? list.UnlinkHead(false) : list.UnlinkTail(false)) {
          ++seen[node->RecordAs<Queued>()->id];
          ++consumed;
        } else {
          std::this_thread::yield();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int id = 0; id < kTotal; ++id) ASSERT_EQ(seen[id], 1) << id;
  EXPECT_TRUE(list.IsEmpty(false) && list.GetCount(false) == 0);
}

TEST(RegistryThreadsTest, ConcurrentOperationsLeaveBothRegistriesConsistent) {
  testing_support::TempDir dir;
  std::thread pcs([&dir] { RunThreads<CPcDataList>(dir, "pc", &MakePc, 240); });
  RunThreads<CGwDataList>(dir, "gw", &MakeGateway, 48);
  pcs.join();
}

}  // namespace
