#pragma once

// Each registry as its tests see it: its rules, random records from small value sets (so
// that records and keys collide often), its files, and checks of one record against
// another and of a whole list against a plain walk.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <unordered_set>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "tests/common/RecordDump.h"

namespace registry_model {

using testing_support::Records;

inline const char* Pick(std::mt19937& random, std::initializer_list<const char*> choices) {
  return choices.begin()[random() % choices.size()];
}

// AddUnique that hands the record to the list only when the list takes it.
template <class List, class Record>
int Own(List& list, std::unique_ptr<Record> record) {
  const int result = list.AddUnique(record.get());
  if (result == 0) record.release();
  return result;
}

inline CGwData* NewGw(const char* address, const char* port = "880") {
  auto* gateway = new CGwData;
  gateway->addressText = address;
  EXPECT_TRUE(ParseIPv4Value(address, gateway->address)) << address;
  gateway->portText = port;
  gateway->port = ParseNumberInRange(port, 1, 65535);
  return gateway;
}

inline CGwrouteData* NewRoute(const char* network, const char* netmask, const char* device = "") {
  auto* route = new CGwrouteData;
  route->device = device;
  route->networkText = network;
  route->netmaskText = netmask;
  EXPECT_TRUE(ParseIPv4Value(network, route->network)) << network;
  EXPECT_TRUE(*netmask == '\0' || ParseIPv4Value(netmask, route->netmask)) << netmask;
  return route;
}

// Self provides Make (a record to store); Key (a search key) is the same unless Self says
// otherwise.
template <class Self, class L, class R, auto MatchRule, auto IdentityRule = MatchRule, bool HasFile = true>
struct Registry {
  using List = L;
  using Record = R;
  static constexpr bool kHasFile = HasFile;
  static constexpr auto Match = MatchRule;
  static constexpr auto Identity = IdentityRule;
  static bool Shaped(const Record&) { return true; }
  static std::unique_ptr<Record> Key(std::mt19937& random) { return Self::Make(random); }
  static int Save(List& list, const std::string& path) { return list.Save(path.c_str()); }
  static int Load(List& list, const std::string& path) { return list.Load(path.c_str()); }
};

struct Nac : Registry<Nac, CNacDataList, CNacData, &CNacDataList::Matches, &CNacDataList::Matches, false> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto e = std::make_unique<Record>();
    EXPECT_TRUE(e->SetSource(Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3"})));
    EXPECT_TRUE(
        e->SetMac(Pick(random, {"", "00:00:00:00:00:00", "00:11:22:33:44:55", "00-11-22-33-44-55", "aabbccddeeff"})));
    e->target = static_cast<std::int32_t>(1 + random() % 2);
    return e;
  }
};

struct Quarantine : Registry<Quarantine, CQuarantineDataList, CQuarantineData, &CQuarantineDataList::Matches> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto server = std::make_unique<Record>();
    EXPECT_TRUE(server->SetSource(Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3"})));
    server->protocol = Pick(random, {"tcp", "udp"});
    EXPECT_TRUE(server->SetPort(Pick(random, {"80", "080", "443"})));
    return server;
  }
};

struct Pc : Registry<Pc, CPcDataList, CPcData, &CPcDataList::MatchRule, &CPcDataList::IdentityRule> {
  static bool Shaped(const Record& pc) {
    return !(pc.HasSource() && pc.HasNetwork()) && (pc.HasMac() || (!pc.HasSource() && pc.HasNetwork()));
  }
  // Any combination of the fields, so refused shapes and odd keys come up too.
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    auto pc = std::make_unique<Record>();
    EXPECT_TRUE(pc->SetMac(Pick(random, {"", "", "", "00:00:00:00:00:01", "00-00-00-00-00-01", "00:00:00:00:00:02"})));
    EXPECT_TRUE(pc->SetSource(Pick(random, {"", "", "", "10.0.0.1", "10.0.0.2"})));
    EXPECT_TRUE(pc->SetNetwork(Pick(random, {"", "", "", "192.168.0.0", "192.168.0.77", "192.168.1.0", "0.0.0.0"})));
    EXPECT_TRUE(pc->SetNetmask(Pick(random, {"", "", "255.255.255.0", "255.255.0.0", "0.0.0.0"})));
    return pc;
  }
};

struct Gwroute : Registry<Gwroute, CGwrouteDataList, CGwrouteData, &CGwrouteDataList::MatchRule,
                          &CGwrouteDataList::IdentityRule, false> {
  static std::unique_ptr<Record> Make(std::mt19937& random) {
    const char* device = Pick(random, {"", "eth0"});
    const char* network = Pick(random, {"192.168.0.0", "192.168.0.77", "192.168.1.0", "10.0.0.0"});
    return std::unique_ptr<Record>(NewRoute(network, Pick(random, {"", "255.255.255.0", "255.255.0.0"}), device));
  }
};

// Gateways carry up to two routes, so that copies, saves and loads take a gateway's lock
// and then its routes' lock.
struct Gw : Registry<Gw, CGwDataList, CGwData, &CGwDataList::MatchRule, &CGwDataList::IdentityRule> {
  static std::unique_ptr<Record> Make(std::mt19937& random) { return Gateway(random, {"880", "8080"}); }
  // A key without a port finds a gateway by its address alone.
  static std::unique_ptr<Record> Key(std::mt19937& random) { return Gateway(random, {"", "880", "8080"}); }
  static int Save(List& list, const std::string& path) {
    return list.Save(path.c_str()) == 0 && SaveGwroutes(list, (path + ".routes").c_str()) == 0 ? 0 : -1;
  }
  // -2 when the routes did not load.
  static int Load(List& list, const std::string& path) {
    const int result = list.Load(path.c_str());
    return LoadGwroutes(list, (path + ".routes").c_str()) == GwrouteLoadResult::kLoaded ? result : -2;
  }

 private:
  static std::unique_ptr<Record> Gateway(std::mt19937& random, std::initializer_list<const char*> ports) {
    const char* address = Pick(random, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
    std::unique_ptr<Record> gateway(NewGw(address, Pick(random, ports)));
    for (unsigned routes = random() % 3; routes > 0; --routes) Own(gateway->Routes(), Gwroute::Make(random));
    return gateway;
  }
};

using All = ::testing::Types<Nac, Quarantine, Pc, Gw, Gwroute>;

// What a registry that holds stored does with other: AddUnique's result, and whether other
// as a key finds stored.
template <class List, class Record>
std::pair<int, bool> JoinAndFind(std::unique_ptr<Record> stored, std::unique_ptr<Record> other) {
  List list;
  Record* kept = stored.get();
  EXPECT_EQ(Own(list, std::move(stored)), 0);
  CNacList::Guard guard(list);
  const bool found = list.FindLive(*other, guard) == kept;
  return {Own(list, std::move(other)), found};
}

// The first record that matches key and passes, found by walking the list.
template <class T, class Passes>
typename T::Record* Walk(CNacList& list, const typename T::Record& key, Passes passes) {
  for (auto* record : Records<typename T::Record>(list)) {
    if (passes(*record) && T::Match(*record, key)) return record;
  }
  return nullptr;
}

// What is wrong with list, or "": a record walked twice, a count that is not the nodes
// walked, a search that disagrees with a walk for a random key, and (with identities) two
// live records of one identity. A gateway's routes are checked too. live receives the
// number of live records.
template <class T>
std::string Problem(typename T::List& list, std::mt19937& random, bool identities, int* live = nullptr) {
  using Record = typename T::Record;
  CNacList::Guard guard(list);
  std::unordered_set<const Record*> seen;
  std::vector<const Record*> alive;
  for (Record* record : Records<Record>(list)) {
    if (!seen.insert(record).second) return "a record appears twice in the walk";
    if (record->IsLive()) alive.push_back(record);
    if constexpr (std::is_same_v<Record, CGwData>) {
      const std::string routes = Problem<Gwroute>(record->Routes(), random, false);
      if (!routes.empty()) return "routes of " + record->addressText + ": " + routes;
    }
  }
  if (list.GetCount(true) != static_cast<int>(seen.size())) return "the count is not the nodes walked";
  for (std::size_t b = 0; identities && b < alive.size(); ++b) {
    for (std::size_t a = 0; a < b; ++a) {
      if (T::Identity(*alive[a], *alive[b])) return "two live records share an identity";
    }
  }
  for (int probe = 0; probe < 4; ++probe) {
    const auto key = T::Key(random);
    if (list.FindLive(*key, guard) != Walk<T>(list, *key, [](auto& r) { return r.IsLive(); })) return "FindLive";
    if (list.FindAdded(*key, guard) != Walk<T>(list, *key, [](auto& r) { return r.added != 0; })) return "FindAdded";
    if (list.FindDeleted(*key, guard) != Walk<T>(list, *key, [](auto& r) { return !r.IsLive(); })) {
      return "FindDeleted";
    }
  }
  if (live != nullptr) *live = static_cast<int>(alive.size());
  return "";
}

}  // namespace registry_model
