#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"

// What one rule walk sees of the registries: a snapshot of each, taken once when the walk
// starts, with the live records in list order and lookups that give, for a route, a PC or
// a NAC entry, exactly the records a walk from the head would find to match, in list
// order. A walk's cost so grows with the rules it makes, not with the registries' sizes.
//
// Not shared: a view belongs to the thread of its walk.
class AclView {
 public:
  // Takes the snapshots (each logs its own failure line and is then empty).
  AclView();
  AclView(const AclView&) = delete;
  AclView& operator=(const AclView&) = delete;

  // The gateway snapshot; the changed-record walks walk it (routes included).
  CGwDataList& Gateways() { return *gateways_; }
  CPcDataList& PcSnapshot() { return *pcs_; }
  CQuarantineDataList& ServerSnapshot() { return *servers_; }
  CNacDataList& NacSnapshot() { return *entries_; }

  // Live quarantine servers with an address text, in list order: each combination's
  // client rules are made for every one of them.
  const std::vector<const CQuarantineData*>& Servers() const { return liveServers_; }

  // The live PCs that can get any rule behind route (none: a gateway without routes), in
  // list order: client rules need the PC inside the route, NAC rules too.
  std::vector<const CPcData*> PcsBehind(const CGwrouteData* route) const;
  // The same as places in the list of live PCs, and the PC at such a place.
  std::vector<std::size_t> PcPositionsBehind(const CGwrouteData* route) const;
  const CPcData& PcAt(std::size_t position) const { return *livePcs_[position]; }
  // Whether pc can get any rule behind route: the question PcsBehind answers for all.
  static bool Behind(const CGwrouteData* route, const CPcData& pc);
  // The live NAC entries whose rules one combination makes, in list order.
  std::vector<const CNacData*> EntriesFor(const CGwrouteData* route, const CPcData& pc) const;
  // The live PCs whose combination with entry behind route makes its rules, in list order.
  std::vector<const CPcData*> PcsFor(const CNacData& entry, const CGwrouteData* route) const;

  // The rule itself, as the walks apply it to each combination.
  static bool NacMatches(const CNacData& entry, const CGwrouteData* route, const CPcData& pc);

  // A record's place in the live list, under a key: an address in host order, so that a
  // route's network is a range of keys.
  struct Keyed {
    std::uint32_t key;
    std::size_t position;
  };

 private:
  using Positions = std::vector<std::size_t>;

  void IndexPcs();
  void IndexEntries();
  // The PCs at these positions, in list order.
  std::vector<const CPcData*> PcsAt(Positions positions) const;

  std::unique_ptr<CGwDataList> gateways_;
  std::unique_ptr<CPcDataList> pcs_;
  std::unique_ptr<CQuarantineDataList> servers_;
  std::unique_ptr<CNacDataList> entries_;

  std::vector<const CQuarantineData*> liveServers_;
  std::vector<const CPcData*> livePcs_;
  std::vector<Keyed> pcsBySource_;   // PCs with a source, sorted
  std::vector<Keyed> pcsByNetwork_;  // PC networks, sorted
  Positions macOnlyPcs_;             // PCs known by their MAC alone
  std::unordered_multimap<std::uint64_t, std::size_t> macOnlyByMac_;
  std::unordered_multimap<std::uint32_t, std::size_t> pcsBySourceValue_;
  std::unordered_multimap<std::uint64_t, std::size_t> networksByMaskedNetwork_;  // mask and masked network

  std::vector<const CNacData*> liveEntries_;
  std::vector<Keyed> entriesBySource_;  // sorted
  std::unordered_multimap<std::uint32_t, std::size_t> entriesBySourceValue_;
  std::unordered_multimap<std::uint64_t, std::size_t> entriesByMac_;  // entries with a MAC text
};
