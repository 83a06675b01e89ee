#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <latch>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/PcDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"

// Several threads at once on one PC registry and one gateway registry (with routes): adds of
// new and repeated records, deletion marks, erasure of deleted records under the lock,
// snapshots, saves, loads and searches. Every snapshot and every saved file is checked as
// it is taken, and the registries once the threads are done.

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

using Clock = std::chrono::steady_clock;

// Each thread works this long, but at least kMinRounds and at most kMaxRounds rounds, so
// that a slow (sanitized) build still does every kind of work and a fast one stops.
constexpr auto kRunTime = std::chrono::milliseconds(1000);
constexpr int kMinRounds = 40;
constexpr int kMaxRounds = 200000;

// Identities the threads draw from: few enough that they meet often.
constexpr int kPcPool = 240;
constexpr int kGwPool = 48;
constexpr int kRoutePool = 6;
// The prepared files: every other PC of the pool (no two of which conflict), and the first
// gateways with two routes each.
constexpr int kPreparedPcs = kPcPool / 2;
constexpr int kPreparedGateways = 32;

// The thread-safe list of what went wrong; the threads go on, the test fails at the end.
class Faults {
 public:
  void Add(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (texts_.size() < 8) texts_.push_back(text);
    ++count_;
  }
  // Adds text unless it is empty.
  void Check(const std::string& text) {
    if (!text.empty()) Add(text);
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  std::string Text() {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const std::string& text : texts_) all += text + "\n";
    return all;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  int count_ = 0;
};

class Rounds {
 public:
  explicit Rounds(Clock::time_point end) : end_(end) {}
  bool More() {
    ++done_;
    return done_ <= kMinRounds || (done_ <= kMaxRounds && Clock::now() < end_);
  }
  int Done() const { return done_; }

 private:
  Clock::time_point end_;
  int done_ = 0;
};

std::string Dotted(int a, int b, int c, int d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

// ---- records ----

// PC i of the pool. Its shape is i mod 4: MAC, MAC with source, MAC with network, network.
// Neighbours share a MAC (0 and 1) or a network (2 and 3), so that the identity rule has
// pairs to refuse across shapes. The MAC comes in either spelling; the registry stores one.
std::unique_ptr<CPcData> MakePc(int i, bool dashed) {
  auto pc = std::make_unique<CPcData>();
  const int pair = i / 2;
  char mac[24];
  std::snprintf(mac, sizeof mac, dashed ? "02-00-00-00-%02x-%02x" : "02:00:00:00:%02X:%02X", pair / 256, pair % 256);
  const std::string network = Dotted(10, pair / 256, pair % 256, 0);
  bool valid = true;
  switch (i % 4) {
    case 0:
      valid = pc->SetMac(mac);
      break;
    case 1:
      valid = pc->SetMac(mac) && pc->SetSource(Dotted(192, 168, i / 256, i % 256).c_str());
      break;
    case 2:
      valid = pc->SetMac(mac) && pc->SetNetwork(network.c_str()) && pc->SetNetmask("255.255.255.0");
      break;
    default:
      valid = pc->SetNetwork(network.c_str()) && pc->SetNetmask("255.255.255.0");
      break;
  }
  EXPECT_TRUE(valid) << "PC " << i;
  return pc;
}

std::string Describe(const CPcData& pc) {
  return "[" + pc.macText + " " + pc.sourceText + " " + pc.networkText + "/" + pc.netmaskText + "]";
}

std::string Describe(const CGwData& gateway) { return "[" + gateway.addressText + "]"; }

std::string Describe(const CGwrouteData& route) {
  return "[" + route.device + " " + route.networkText + "/" + route.netmaskText + "]";
}

std::uint32_t GatewayAddress(int i) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(Dotted(10, 0, 0, i + 1).c_str(), value));
  return value;
}

std::unique_ptr<CGwData> MakeGateway(int i) {
  auto gateway = std::make_unique<CGwData>();
  gateway->addressText = Dotted(10, 0, 0, i + 1);
  gateway->address = GatewayAddress(i);
  return gateway;
}

std::unique_ptr<CGwrouteData> MakeRoute(int r) {
  auto route = std::make_unique<CGwrouteData>();
  route->device = r % 2 == 0 ? "" : "eth1";
  route->networkText = Dotted(192, 168, r, 0);
  route->netmaskText = "255.255.255.0";
  EXPECT_TRUE(ParseIPv4Value(route->networkText.c_str(), route->network));
  EXPECT_TRUE(ParseIPv4Value(route->netmaskText.c_str(), route->netmask));
  return route;
}

// ---- checks; each gives what is wrong, or nothing ----

// Walks list (taking its lock, which the caller may hold already): every record once and
// the count equal to the nodes walked; with identity, no live record has the identity of
// a live record before it, which is what the adds refuse. live receives the live records.
template <class Record, class List>
std::string ListProblem(List& list, bool (*identity)(const Record&, const Record&),
                        std::vector<const Record*>* live = nullptr) {
  CNacList::Guard guard(list, false);
  std::unordered_set<const Record*> seen;
  std::vector<const Record*> alive;
  int walked = 0;
  for (CNacNode* node = list.GetHead(true); node != nullptr; node = list.GetNext(node, true)) {
    const Record* record = node->RecordAs<Record>();
    if (!seen.insert(record).second) return "a record appears twice in the walk: " + Describe(*record);
    ++walked;
    if (record->IsLive()) alive.push_back(record);
  }
  if (list.GetCount(true) != walked) {
    return "count " + std::to_string(list.GetCount(true)) + " but " + std::to_string(walked) + " nodes walked";
  }
  if (identity != nullptr) {
    for (std::size_t later = 1; later < alive.size(); ++later) {
      for (std::size_t earlier = 0; earlier < later; ++earlier) {
        if (identity(*alive[earlier], *alive[later])) {
          return "live records with one identity: " + Describe(*alive[earlier]) + " and " + Describe(*alive[later]);
        }
      }
    }
  }
  if (live != nullptr) *live = std::move(alive);
  return "";
}

// The searches give what a walk from the head gives: the first record that passes.
template <class Record, class List>
std::string SearchProblem(List& list, const Record& key, bool (*match)(const Record&, const Record&)) {
  CNacList::Guard guard(list, false);
  const Record* live = nullptr;
  const Record* deleted = nullptr;
  const Record* added = nullptr;
  for (CNacNode* node = list.GetHead(true); node != nullptr; node = list.GetNext(node, true)) {
    const Record& record = *node->RecordAs<Record>();
    if (!match(record, key)) continue;
    if (live == nullptr && record.IsLive()) live = &record;
    if (deleted == nullptr && record.deleted != 0) deleted = &record;
    if (added == nullptr && record.added != 0) added = &record;
  }
  if (list.FindLive(key, true) != live) return "FindLive differs from the walk for " + Describe(key);
  if (list.FindDeleted(key, true) != deleted) return "FindDeleted differs from the walk for " + Describe(key);
  if (list.FindAdded(key, true) != added) return "FindAdded differs from the walk for " + Describe(key);
  return "";
}

std::string PcListProblem(CPcDataList& list, std::vector<const CPcData*>* live = nullptr) {
  return ListProblem<CPcData>(list, &CPcDataList::IdentityRule, live);
}

// The gateways, and the routes of each. Route files are appended without the identity
// check, so routes are only checked for their links.
std::string GwListProblem(CGwDataList& list, std::vector<const CGwData*>* live = nullptr) {
  CNacList::Guard guard(list, false);
  std::string problem = ListProblem<CGwData>(list, &CGwDataList::IdentityRule, live);
  if (!problem.empty()) return problem;
  std::unordered_set<const CGwrouteData*> routes;
  for (CNacNode* node = list.GetHead(true); node != nullptr; node = list.GetNext(node, true)) {
    CGwrouteDataList& routeList = node->RecordAs<CGwData>()->Routes();
    CNacList::Guard routeGuard(routeList, false);
    problem = ListProblem<CGwrouteData>(routeList, nullptr);
    if (!problem.empty()) return "routes of " + Describe(*node->RecordAs<CGwData>()) + ": " + problem;
    for (CNacNode* entry = routeList.GetHead(true); entry != nullptr; entry = routeList.GetNext(entry, true)) {
      if (!routes.insert(entry->RecordAs<CGwrouteData>()).second) return "a route is in two lists";
    }
  }
  return "";
}

int LiveRoutes(CGwrouteDataList& routes) {
  CNacList::Guard guard(routes, false);
  int live = 0;
  for (CNacNode* node = routes.GetHead(true); node != nullptr; node = routes.GetNext(node, true)) {
    live += node->RecordAs<CGwrouteData>()->IsLive() ? 1 : 0;
  }
  return live;
}

int TotalRoutes(CGwDataList& gateways) {
  CNacList::Guard guard(gateways, false);
  int total = 0;
  for (CNacNode* node = gateways.GetHead(true); node != nullptr; node = gateways.GetNext(node, true)) {
    total += node->RecordAs<CGwData>()->Routes().GetCount(false);
  }
  return total;
}

// What a fresh load of the saved files must give: the live gateways, and the live routes
// of every gateway (deleted ones too) whose address a live gateway has.
struct GwExpectation {
  int gateways = 0;
  int routes = 0;
};

GwExpectation ExpectedAfterSave(CGwDataList& gateways) {
  CNacList::Guard guard(gateways, false);
  std::set<std::uint32_t> liveAddresses;
  for (CNacNode* node = gateways.GetHead(true); node != nullptr; node = gateways.GetNext(node, true)) {
    const CGwData& gateway = *node->RecordAs<CGwData>();
    if (gateway.IsLive()) liveAddresses.insert(gateway.address);
  }
  GwExpectation expected;
  expected.gateways = static_cast<int>(liveAddresses.size());
  for (CNacNode* node = gateways.GetHead(true); node != nullptr; node = gateways.GetNext(node, true)) {
    CGwData& gateway = *node->RecordAs<CGwData>();
    if (liveAddresses.count(gateway.address) != 0) expected.routes += LiveRoutes(gateway.Routes());
  }
  return expected;
}

// Counts of what the threads did, to show the run exercised each path.
struct Tally {
  std::atomic<int> added{0};
  std::atomic<int> refused{0};
  std::atomic<int> erased{0};
  std::atomic<int> snapshots{0};
  std::atomic<int> saves{0};
  std::atomic<int> loads{0};
  std::atomic<int> searches{0};
};

class RegistryThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPcDataList pcs;
    for (int i = 0; i < kPcPool; i += 2) ASSERT_EQ(pcs.AddUnique(MakePc(i, i % 4 == 0).release()), 0) << i;
    ASSERT_EQ(pcs.GetCount(false), kPreparedPcs);
    ASSERT_EQ(pcs.Save(preparedPcs_.c_str()), 0);

    CGwDataList gateways;
    for (int i = 0; i < kPreparedGateways; ++i) {
      auto gateway = MakeGateway(i);
      for (int r = i % 3; r < i % 3 + 2; ++r) ASSERT_EQ(gateway->Routes().AddUnique(MakeRoute(r).release()), 0);
      ASSERT_EQ(gateways.AddUnique(gateway.release()), 0);
    }
    ASSERT_EQ(gateways.Save(preparedGateways_.c_str()), 0);
    ASSERT_EQ(SaveGwroutes(gateways, preparedRoutes_.c_str()), 0);
  }

  testing_support::TempDir dir_;
  const std::string preparedPcs_ = dir_.File("prepared-pc.csv");
  const std::string preparedGateways_ = dir_.File("prepared-gw.csv");
  const std::string preparedRoutes_ = dir_.File("prepared-gwroute.csv");
  Faults faults_;
  Tally pcTally_;
  Tally gwTally_;
};

TEST_F(RegistryThreadsTest, ConcurrentOperationsLeaveBothRegistriesConsistent) {
  CPcDataList pcs;
  CGwDataList gateways;
  std::vector<std::function<void(Rounds&, std::mt19937&)>> workers;

  // ---- PC registry ----

  // Two adders draw from the same pool: new records, repeats and identity clashes.
  for (int adder = 0; adder < 2; ++adder) {
    workers.push_back([&](Rounds& rounds, std::mt19937& random) {
      while (rounds.More()) {
        const int i = static_cast<int>(random() % kPcPool);
        auto pc = MakePc(i, random() % 2 == 0);
        if (pcs.AddUnique(pc.get()) == 0) {
          pc.release();
          ++pcTally_.added;
        } else {
          ++pcTally_.refused;
        }
      }
    });
  }

  // Marks records deleted and erases deleted ones, each erasure under the lock that found it.
  workers.push_back([&](Rounds& rounds, std::mt19937& random) {
    while (rounds.More()) {
      pcs.MarkDeleted(*MakePc(static_cast<int>(random() % kPcPool), false));
      const auto key = MakePc(static_cast<int>(random() % kPcPool), true);
      CNacList::Guard guard(pcs, false);
      if (CPcData* deleted = pcs.FindDeleted(*key, true)) {
        if (deleted->deleted == 0 || !CPcDataList::MatchRule(*deleted, *key)) faults_.Add("FindDeleted gave a wrong PC");
        pcs.RemoveData(deleted, true);
        ++pcTally_.erased;
      }
      // Now and then a sweep of the deleted records from the head.
      if (rounds.Done() % 16 == 0) {
        std::vector<CPcData*> sweep;
        for (CNacNode* node = pcs.GetHead(true); node != nullptr && sweep.size() < 32; node = pcs.GetNext(node, true)) {
          if (!node->RecordAs<CPcData>()->IsLive()) sweep.push_back(node->RecordAs<CPcData>());
        }
        for (CPcData* pc : sweep) pcs.RemoveData(pc, true);
        pcTally_.erased += static_cast<int>(sweep.size());
      }
    }
  });

  // Snapshots, alone or under a held lock, and saves under a held lock whose files must
  // load back whole into a fresh registry.
  workers.push_back([&](Rounds& rounds, std::mt19937& /*random*/) {
    while (rounds.More()) {
      CPcDataList snapshot;
      if (rounds.Done() % 2 == 0) {
        pcs.CopyAll(&snapshot);
        faults_.Check(PcListProblem(snapshot));
        ++pcTally_.snapshots;
        continue;
      }
      std::vector<const CPcData*> live;
      const std::string saved = dir_.File("pc-" + std::to_string(rounds.Done()) + ".csv");
      const bool save = rounds.Done() % 8 == 1;
      {
        CNacList::Guard guard(pcs, false);
        faults_.Check(PcListProblem(pcs, &live));
        const int copied = pcs.CopyAll(&snapshot);
        if (copied != snapshot.GetCount(false)) faults_.Add("CopyAll gave a count that is not the copy's");
        if (save && pcs.Save(saved.c_str()) != 0) faults_.Add("Save failed");
      }
      std::vector<const CPcData*> copiedLive;
      faults_.Check(PcListProblem(snapshot, &copiedLive));
      if (copiedLive.size() != live.size()) {
        faults_.Add("a snapshot has " + std::to_string(copiedLive.size()) + " live PCs of " + std::to_string(live.size()));
      }
      ++pcTally_.snapshots;
      if (!save) continue;
      CPcDataList reloaded;
      if (reloaded.Load(saved.c_str()) != 0 || reloaded.GetCount(false) != static_cast<int>(live.size())) {
        faults_.Add("a saved pc.csv did not load back whole");
      }
      std::remove(saved.c_str());
      ++pcTally_.saves;
    }
  });

  // Loads of the prepared file between searches checked against a walk.
  workers.push_back([&](Rounds& rounds, std::mt19937& random) {
    while (rounds.More()) {
      if (rounds.Done() % 25 == 0) {
        // A concurrent add may take an identity of the file first: -1 is fair then.
        const int result = pcs.Load(preparedPcs_.c_str());
        if (result != 0 && result != -1) faults_.Add("Load gave " + std::to_string(result));
        ++pcTally_.loads;
      }
      const auto key = MakePc(static_cast<int>(random() % kPcPool), random() % 2 == 0);
      faults_.Check(SearchProblem<CPcData>(pcs, *key, &CPcDataList::MatchRule));
      ++pcTally_.searches;
    }
  });

  // ---- gateway registry ----

  // Gateways, and routes added to a live gateway under the registry's lock.
  workers.push_back([&](Rounds& rounds, std::mt19937& random) {
    while (rounds.More()) {
      const int i = static_cast<int>(random() % kGwPool);
      auto gateway = MakeGateway(i);
      if (gateways.AddUnique(gateway.get()) == 0) {
        gateway.release();
        ++gwTally_.added;
      } else {
        ++gwTally_.refused;
      }
      auto route = MakeRoute(static_cast<int>(random() % kRoutePool));
      CNacList::Guard guard(gateways, false);
      if (CGwData* live = gateways.FindLive(CGwDataList::AddressKey(GatewayAddress(i)), true)) {
        if (live->Routes().AddUnique(route.get()) == 0) route.release();
      }
    }
  });

  // Deletion marks on gateways and routes, erasures under the lock, keep-alive results.
  workers.push_back([&](Rounds& rounds, std::mt19937& random) {
    while (rounds.More()) {
      const std::uint32_t address = GatewayAddress(static_cast<int>(random() % kGwPool));
      const CGwData key = CGwDataList::AddressKey(address);
      switch (rounds.Done() % 4) {
        case 0:
          gateways.MarkDeleted(key);
          break;
        case 1: {
          CNacList::Guard guard(gateways, false);
          if (CGwData* deleted = gateways.FindDeleted(key, true)) {
            if (deleted->deleted == 0 || deleted->address != address) faults_.Add("FindDeleted gave a wrong gateway");
            gateways.RemoveData(deleted, true);
            ++gwTally_.erased;
          }
          break;
        }
        case 2: {
          const auto route = MakeRoute(static_cast<int>(random() % kRoutePool));
          CNacList::Guard guard(gateways, false);
          if (CGwData* live = gateways.FindLive(key, true)) {
            CGwrouteDataList& routes = live->Routes();
            CNacList::Guard routeGuard(routes, false);
            if (CGwrouteData* deleted = routes.FindDeleted(*route, true)) {
              routes.RemoveData(deleted, true);
            } else {
              routes.MarkDeleted(*route);
            }
          }
          break;
        }
        default:
          if (random() % 2 == 0) {
            gateways.KeepAliveOn(address);
          } else {
            gateways.KeepAliveOff(address);
          }
          break;
      }
    }
  });

  // Snapshots with their routes, and saves of both files whose reload must give what the
  // registry held when they were written.
  workers.push_back([&](Rounds& rounds, std::mt19937& /*random*/) {
    while (rounds.More()) {
      CGwDataList snapshot;
      if (rounds.Done() % 4 != 1) {
        gateways.CopyAll(&snapshot);
        faults_.Check(GwListProblem(snapshot));
        ++gwTally_.snapshots;
        continue;
      }
      const std::string tag = std::to_string(rounds.Done());
      const std::string savedGateways = dir_.File("gw-" + tag + ".csv");
      const std::string savedRoutes = dir_.File("gwroute-" + tag + ".csv");
      std::vector<const CGwData*> live;
      GwExpectation expected;
      {
        CNacList::Guard guard(gateways, false);
        faults_.Check(GwListProblem(gateways, &live));
        expected = ExpectedAfterSave(gateways);
        gateways.CopyAll(&snapshot);
        if (gateways.Save(savedGateways.c_str()) != 0) faults_.Add("gw.csv Save failed");
        if (SaveGwroutes(gateways, savedRoutes.c_str()) != 0) faults_.Add("SaveGwroutes failed");
      }
      std::vector<const CGwData*> copiedLive;
      faults_.Check(GwListProblem(snapshot, &copiedLive));
      if (copiedLive.size() != live.size()) faults_.Add("a gateway snapshot lost live gateways");
      CGwDataList reloaded;
      if (reloaded.Load(savedGateways.c_str()) != 0 || reloaded.GetCount(false) != expected.gateways) {
        faults_.Add("a saved gw.csv did not load back whole");
      }
      if (LoadGwroutes(reloaded, savedRoutes.c_str()) != GwrouteLoadResult::kLoaded ||
          TotalRoutes(reloaded) != expected.routes) {
        faults_.Add("a saved gwroute.csv gave " + std::to_string(TotalRoutes(reloaded)) + " routes, not " +
                    std::to_string(expected.routes));
      }
      std::remove(savedGateways.c_str());
      std::remove(savedRoutes.c_str());
      ++gwTally_.snapshots;
      ++gwTally_.saves;
    }
  });

  // Loads of the prepared files between searches checked against a walk.
  workers.push_back([&](Rounds& rounds, std::mt19937& random) {
    while (rounds.More()) {
      if (rounds.Done() % 25 == 0) {
        const int result = gateways.Load(preparedGateways_.c_str());
        if (result != 0 && result != -1) faults_.Add("gw.csv Load gave " + std::to_string(result));
        if (LoadGwroutes(gateways, preparedRoutes_.c_str()) != GwrouteLoadResult::kLoaded) {
          faults_.Add("LoadGwroutes of the prepared file failed");
        }
        ++gwTally_.loads;
      }
      const CGwData key = CGwDataList::AddressKey(GatewayAddress(static_cast<int>(random() % kGwPool)));
      faults_.Check(SearchProblem<CGwData>(gateways, key, &CGwDataList::MatchRule));
      ++gwTally_.searches;
    }
  });

  std::latch start(static_cast<std::ptrdiff_t>(workers.size()));
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < workers.size(); ++w) {
    threads.emplace_back([&, w] {
      std::mt19937 random(static_cast<std::mt19937::result_type>(w + 1));
      start.arrive_and_wait();
      Rounds rounds(Clock::now() + kRunTime);
      workers[w](rounds, random);
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(faults_.Count(), 0) << faults_.Text();

  // The registries as the threads left them: links, counts, identities and the index.
  std::vector<const CPcData*> livePcs;
  EXPECT_EQ(PcListProblem(pcs, &livePcs), "");
  for (CNacNode* node = pcs.GetHead(false); node != nullptr; node = pcs.GetNext(node, false)) {
    const std::string problem = SearchProblem<CPcData>(pcs, *node->RecordAs<CPcData>(), &CPcDataList::MatchRule);
    EXPECT_EQ(problem, "");
    if (!problem.empty()) break;
  }
  std::vector<const CGwData*> liveGateways;
  EXPECT_EQ(GwListProblem(gateways, &liveGateways), "");
  for (int i = 0; i < kGwPool; ++i) {
    EXPECT_EQ(SearchProblem<CGwData>(gateways, CGwDataList::AddressKey(GatewayAddress(i)), &CGwDataList::MatchRule), "");
  }

  // A load on the quiet registries takes the whole file over whatever the threads left.
  const int pcsBefore = pcs.GetCount(false);
  EXPECT_EQ(pcs.Load(preparedPcs_.c_str()), 0);
  EXPECT_EQ(pcs.GetCount(false), pcsBefore + kPreparedPcs);
  EXPECT_EQ(PcListProblem(pcs, &livePcs), "");
  EXPECT_EQ(livePcs.size(), static_cast<std::size_t>(kPreparedPcs));
  const int gatewaysBefore = gateways.GetCount(false);
  EXPECT_EQ(gateways.Load(preparedGateways_.c_str()), 0);
  EXPECT_EQ(LoadGwroutes(gateways, preparedRoutes_.c_str()), GwrouteLoadResult::kLoaded);
  EXPECT_EQ(gateways.GetCount(false), gatewaysBefore + kPreparedGateways);
  EXPECT_EQ(GwListProblem(gateways, &liveGateways), "");
  EXPECT_EQ(liveGateways.size(), static_cast<std::size_t>(kPreparedGateways));

  // Every kind of work happened, repeats were refused and deleted records were erased.
  for (Tally* tally : {&pcTally_, &gwTally_}) {
    EXPECT_GT(tally->added.load(), 0);
    EXPECT_GT(tally->refused.load(), 0);
    EXPECT_GT(tally->erased.load(), 0);
    EXPECT_GT(tally->snapshots.load(), 0);
    EXPECT_GT(tally->saves.load(), 0);
    EXPECT_GT(tally->loads.load(), 0);
    EXPECT_GT(tally->searches.load(), 0);
  }
  std::printf("PCs: %d added, %d refused, %d erased, %d snapshots, %d saves, %d loads, %d searches\n",
              pcTally_.added.load(), pcTally_.refused.load(), pcTally_.erased.load(), pcTally_.snapshots.load(),
              pcTally_.saves.load(), pcTally_.loads.load(), pcTally_.searches.load());
  std::printf("Gateways: %d added, %d refused, %d erased, %d snapshots, %d saves, %d loads, %d searches\n",
              gwTally_.added.load(), gwTally_.refused.load(), gwTally_.erased.load(), gwTally_.snapshots.load(),
              gwTally_.saves.load(), gwTally_.loads.load(), gwTally_.searches.load());
}

}  // namespace
