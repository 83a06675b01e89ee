#pragma once

#include <cstdint>

#include "registry/CandidateNodes.h"
#include "registry/NacNodeMap.h"
#include "registry/NacRecordList.h"
#include "registry/PcData.h"

// Narrows the PC registry's searches by two keys: the MAC bytes of records that have a
// MAC, and the pair (netmask, network AND netmask) of records where that pair is not all
// zero. Keys that neither can narrow are walked: a match key with no MAC and either no
// network or no netmask, and any key that would need the all-zero pair, which also stands
// for every record without a network.
class CPcDataIndex final : public CNacRecordIndex<CPcData> {
 public:
  void NodeLinked(CNacNode& node) override;
  void NodeUnlinked(CNacNode& node) override;
  void AllUnlinked() override;
  bool Candidates(Rule rule, const CPcData& key, CandidateNodes& out) override;
  void LoadBegins() override;
  void LoadProgress(std::uint64_t done, std::uint64_t total) override;
  void LoadEnds() override;

 private:
  static std::uint64_t MacKeyOf(const CNacNode& node);
  static std::uint64_t NetworkKeyOf(const CNacNode& node);
  bool Narrow(Rule rule, const CPcData& key, CandidateNodes& out) const;

  CNacNodeMap<std::uint64_t, MacKeyOf> byMac_;
  CNacNodeMap<std::uint64_t, NetworkKeyOf> byNetwork_;
  bool complete_ = true;  // false after a node could not be filed, until the list empties
};
