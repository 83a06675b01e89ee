#include "acl/AclView.h"

#include <arpa/inet.h>

#include <algorithm>
#include <new>

#include "support/Syslog.h"

namespace {

// A snapshot of a registry into a new list; an empty one, logged, when it cannot be had.
template <class List>
std::unique_ptr<List> Snapshot(List& registry, const char* failureText) {
  auto snapshot = std::make_unique<List>();
  try {
    if (registry.CopyAll(snapshot.get()) >= 0) return snapshot;
  } catch (const std::bad_alloc&) {
    snapshot->RemoveAll(false);
  }
  SyslogSend(3, "%s", failureText);
  return snapshot;
}

std::uint64_t MacKey(const std::array<std::uint8_t, 6>& mac) {
  std::uint64_t key = 0;
  for (std::uint8_t byte : mac) key = key << 8 | byte;
  return key;
}

std::uint64_t NetworkKey(std::uint32_t netmask, std::uint32_t network) {
  return static_cast<std::uint64_t>(netmask) << 32 | (network & netmask);
}

template <class Map, class Key>
void AppendAll(const Map& map, const Key& key, std::vector<std::size_t>& out) {
  auto [first, last] = map.equal_range(key);
  for (auto it = first; it != last; ++it) out.push_back(it->second);
}

}  // namespace

AclView::AclView()
    : gateways_(Snapshot(GetGwDataList(), "I failed in a list search of CGwData.")),
      pcs_(Snapshot(GetPcDataList(), "I failed in a list search of CPcData.")),
      servers_(Snapshot(GetQuarantineDataList(), "I failed in a list search of CQuarantineData.")),
      entries_(Snapshot(GetNacDataList(), "I failed in a list search of CNacData.")) {
  for (CNacNode* node = servers_->GetHead(false); node != nullptr; node = servers_->GetNext(node, false)) {
    const CQuarantineData& server = *node->RecordAs<CQuarantineData>();
    if (server.IsLive() && !server.sourceText.empty()) liveServers_.push_back(&server);
  }
  IndexPcs();
  IndexEntries();
}

void AclView::IndexPcs() {
  // Room for every PC at once: a site of tens of thousands would otherwise regrow each index.
  const auto count = static_cast<std::size_t>(pcs_->GetCount(false));
  livePcs_.reserve(count);
  pcsBySource_.reserve(count);
  pcsBySourceValue_.reserve(count);
  for (CNacNode* node = pcs_->GetHead(false); node != nullptr; node = pcs_->GetNext(node, false)) {
    const CPcData& pc = *node->RecordAs<CPcData>();
    if (!pc.IsLive()) continue;
    const std::size_t position = livePcs_.size();
    livePcs_.push_back(&pc);
    if (pc.HasSource()) {
      pcsBySource_.push_back({ntohl(pc.source), position});
      pcsBySourceValue_.emplace(pc.source, position);
    }
    if (pc.HasNetwork()) {
      pcsByNetwork_.push_back({ntohl(pc.network), position});
      networksByMaskedNetwork_.emplace(NetworkKey(pc.netmask, pc.network), position);
    }
    if (!pc.HasSource() && !pc.HasNetwork()) {
      macOnlyPcs_.push_back(position);
      macOnlyByMac_.emplace(MacKey(pc.mac), position);
    }
  }
  const auto byKey = [](const Keyed& a, const Keyed& b) { return a.key < b.key; };
  std::sort(pcsBySource_.begin(), pcsBySource_.end(), byKey);
  std::sort(pcsByNetwork_.begin(), pcsByNetwork_.end(), byKey);
}

void AclView::IndexEntries() {
  const auto count = static_cast<std::size_t>(entries_->GetCount(false));
  liveEntries_.reserve(count);
  entriesBySource_.reserve(count);
  entriesBySourceValue_.reserve(count);
  for (CNacNode* node = entries_->GetHead(false); node != nullptr; node = entries_->GetNext(node, false)) {
    const CNacData& entry = *node->RecordAs<CNacData>();
    if (!entry.IsLive()) continue;
    const std::size_t position = liveEntries_.size();
    liveEntries_.push_back(&entry);
    entriesBySource_.push_back({ntohl(entry.source), position});
    entriesBySourceValue_.emplace(entry.source, position);
    if (!entry.macText.empty()) entriesByMac_.emplace(MacKey(entry.mac), position);
  }
  std::sort(entriesBySource_.begin(), entriesBySource_.end(),
            [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
}

namespace {

// The positions of the keys that a route's network holds.
void InRoute(const std::vector<AclView::Keyed>& sorted, const CGwrouteData& route, std::vector<std::size_t>& out) {
  const std::uint32_t mask = ntohl(route.netmask);
  const std::uint32_t low = ntohl(route.network) & mask;
  const std::uint32_t high = low | ~mask;
  auto at = std::lower_bound(sorted.begin(), sorted.end(), low,
                             [](const AclView::Keyed& k, std::uint32_t value) { return k.key < value; });
  for (; at != sorted.end() && at->key <= high; ++at) out.push_back(at->position);
}

}  // namespace

std::vector<const CPcData*> AclView::PcsAt(Positions positions) const {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  std::vector<const CPcData*> pcs;
  pcs.reserve(positions.size());
  for (std::size_t position : positions) pcs.push_back(livePcs_[position]);
  return pcs;
}

std::vector<std::size_t> AclView::PcPositionsBehind(const CGwrouteData* route) const {
  Positions positions = macOnlyPcs_;
  if (route != nullptr) {
    InRoute(pcsBySource_, *route, positions);
    InRoute(pcsByNetwork_, *route, positions);
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

std::vector<const CPcData*> AclView::PcsBehind(const CGwrouteData* route) const {
  return PcsAt(PcPositionsBehind(route));
}

bool AclView::Behind(const CGwrouteData* route, const CPcData& pc) {
  if (!pc.HasSource() && !pc.HasNetwork()) return true;
  if (route == nullptr) return false;
  const std::uint32_t address = pc.HasSource() ? pc.source : pc.network;
  return (address & route->netmask) == (route->network & route->netmask);
}

std::vector<const CNacData*> AclView::EntriesFor(const CGwrouteData* route, const CPcData& pc) const {
  Positions positions;
  if (pc.HasSource()) {
    AppendAll(entriesBySourceValue_, pc.source, positions);
  } else if (pc.HasNetwork()) {
    // Entries in the route's range match only a network of the route's own mask inside it.
    if (route != nullptr && pc.netmask == route->netmask &&
        (pc.network & route->netmask) == (route->network & route->netmask)) {
      InRoute(entriesBySource_, *route, positions);
    }
  } else {
    AppendAll(entriesByMac_, MacKey(pc.mac), positions);
  }
  std::sort(positions.begin(), positions.end());
  std::vector<const CNacData*> entries;
  for (std::size_t position : positions) {
    const CNacData* entry = liveEntries_[position];
    if (NacMatches(*entry, route, pc)) entries.push_back(entry);
  }
  return entries;
}

std::vector<const CPcData*> AclView::PcsFor(const CNacData& entry, const CGwrouteData* route) const {
  Positions positions;
  if (route != nullptr) {
    AppendAll(pcsBySourceValue_, entry.source, positions);
    AppendAll(networksByMaskedNetwork_, NetworkKey(route->netmask, route->network), positions);
  }
  if (!entry.macText.empty()) AppendAll(macOnlyByMac_, MacKey(entry.mac), positions);
  std::vector<const CPcData*> pcs;
  for (const CPcData* pc : PcsAt(std::move(positions))) {
    if (NacMatches(entry, route, *pc)) pcs.push_back(pc);
  }
  return pcs;
}

bool AclView::NacMatches(const CNacData& entry, const CGwrouteData* route, const CPcData& pc) {
  if (!entry.macText.empty() && pc.HasMac() && entry.mac != pc.mac) return false;
  if (pc.HasSource()) {
    return entry.source == pc.source && route != nullptr &&
           (pc.source & route->netmask) == (route->network & route->netmask);
  }
  if (pc.HasNetwork()) {
    if (route == nullptr || pc.netmask != route->netmask) return false;
    const std::uint32_t network = route->network & route->netmask;
    return (pc.network & route->netmask) == network && (entry.source & route->netmask) == network;
  }
  return !entry.macText.empty();
}
