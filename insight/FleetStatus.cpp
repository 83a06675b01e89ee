#include "insight/FleetStatus.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "acl/GatewayRuleSet.h"
#include "command/RegistryGeneration.h"
#include "insight/InsightSources.h"
#include "list/NacNode.h"
#include "platform/Mutex.h"
#include "registry/GwDataList.h"

namespace {

// What a gateway should hold, as the registries last said.
struct ShouldHold {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::string addressText;
  std::vector<std::string> rules;
  std::uint64_t digest = 0;
};

// The rule lines of every gateway, computed again only once a registry has changed: they
// cost nearly all of a status walk, and a page that reloads itself asks for them unchanged.
struct ShouldCache {
  platform::Mutex mutex;
  bool filled VELNOR_GUARDED_BY(mutex) = false;
  std::uint64_t generation VELNOR_GUARDED_BY(mutex) = 0;
  std::vector<ShouldHold> gateways VELNOR_GUARDED_BY(mutex);
};

ShouldCache& GetShouldCache() {
  static ShouldCache cache;
  return cache;
}

// Each live gateway's state and since when, as it is now.
std::unordered_map<std::uint32_t, std::pair<bool, std::int64_t>> States() {
  std::unordered_map<std::uint32_t, std::pair<bool, std::int64_t>> states;
  CGwDataList& registry = GetGwDataList();
  CNacList::Guard guard(registry);
  for (CNacNode* node = registry.GetHead(guard); node != nullptr; node = registry.GetNext(node, guard)) {
    const CGwData& gateway = *node->RecordAs<CGwData>();
    if (gateway.IsLive()) states[gateway.address] = {gateway.on != 0, gateway.stateSince};
  }
  return states;
}

}  // namespace

std::string GatewayStatus::SyncText() const {
  if (InSync()) return "in sync";
  return "missing " + std::to_string(difference.missing) + " extra " + std::to_string(difference.extra);
}

void VisitFleetStatus(const std::function<void(const GatewayStatus&)>& visit) {
  ShouldCache& cache = GetShouldCache();
  platform::MutexLock lock(cache.mutex);
  // Read before the registries: a change that lands meanwhile moves it past what is kept.
  const std::uint64_t generation = RegistryGeneration();
  if (!cache.filled || cache.generation != generation) {
    std::vector<ShouldHold> fresh;
    VisitGatewayRuleLines([&](const GatewayRuleLines& gateway) {
      fresh.push_back({gateway.address, gateway.port, gateway.addressText,
                       std::vector<std::string>(gateway.rules.begin(), gateway.rules.end()), gateway.digest});
    });
    cache.gateways = std::move(fresh);
    cache.filled = true;
    cache.generation = generation;
  }
  const auto states = States();
  const std::unordered_map<std::uint32_t, std::int32_t> waiting = WaitingByGateway();
  const GatewayLedger& ledger = GetGatewayLedger();
  GatewayStatus status;
  std::vector<std::string_view> rules;
  for (const ShouldHold& gateway : cache.gateways) {
    const auto state = states.find(gateway.address);
    if (state == states.end()) continue;  // gone since the rules were computed
    status.address = gateway.address;
    status.port = gateway.port;
    status.addressText = gateway.addressText;
    status.on = state->second.first;
    status.stateSince = state->second.second;
    const auto queued = waiting.find(gateway.address);
    status.waiting = queued != waiting.end() ? queued->second : 0;
    rules.assign(gateway.rules.begin(), gateway.rules.end());
    status.difference = ledger.Compare(gateway.address, rules, gateway.digest, status.seen);
    visit(status);
  }
}
