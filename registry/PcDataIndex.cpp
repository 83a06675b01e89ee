#include "registry/PcDataIndex.h"

#include <new>

namespace {

std::uint64_t MacKey(const CPcData& pc) {
  std::uint64_t key = 0;
  for (std::uint8_t byte : pc.mac) key = (key << 8) | byte;
  return key;
}

// Zero for the all-zero pair, which is never filed.
std::uint64_t NetworkKey(const CPcData& pc) {
  return (std::uint64_t{pc.netmask} << 32) | (pc.network & pc.netmask);
}

}  // namespace

std::uint64_t CPcDataIndex::MacKeyOf(const CNacNode& node) { return MacKey(*node.RecordAs<CPcData>()); }

std::uint64_t CPcDataIndex::NetworkKeyOf(const CNacNode& node) { return NetworkKey(*node.RecordAs<CPcData>()); }

// A node that cannot be filed would make the index name too few candidates, so the
// searches walk the list until it is next emptied.
void CPcDataIndex::NodeLinked(CNacNode& node) {
  const CPcData& pc = *node.RecordAs<CPcData>();
  try {
    if (pc.HasMac()) byMac_.Add(MacKey(pc), &node);
    if (const std::uint64_t network = NetworkKey(pc); network != 0) byNetwork_.Add(network, &node);
  } catch (const std::bad_alloc&) {
    complete_ = false;
  }
}

void CPcDataIndex::NodeUnlinked(CNacNode& node) {
  const CPcData& pc = *node.RecordAs<CPcData>();
  if (pc.HasMac()) byMac_.Remove(MacKey(pc), &node);
  if (const std::uint64_t network = NetworkKey(pc); network != 0) byNetwork_.Remove(network, &node);
}

void CPcDataIndex::AllUnlinked() {
  byMac_.Clear();
  byNetwork_.Clear();
  complete_ = true;
}

void CPcDataIndex::LoadBegins() {
  byMac_.BeginRun();
  byNetwork_.BeginRun();
}

void CPcDataIndex::LoadProgress(std::uint64_t done, std::uint64_t total) {
  byMac_.ProjectRun(done, total);
  byNetwork_.ProjectRun(done, total);
}

void CPcDataIndex::LoadEnds() {
  byMac_.EndRun();
  byNetwork_.EndRun();
}

bool CPcDataIndex::Candidates(Rule rule, const CPcData& key, CandidateNodes& out) {
  if (!complete_) return false;
  // A list of candidates cut short would be too few; the walk needs no memory.
  try {
    return Narrow(rule, key, out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool CPcDataIndex::Narrow(Rule rule, const CPcData& key, CandidateNodes& out) const {
  const std::uint64_t network = NetworkKey(key);
  if (rule == Rule::kMatch) {
    // A match with a MAC needs that MAC on the record.
    if (key.HasMac()) {
      byMac_.AppendTo(MacKey(key), out);
      return true;
    }
    // Without a netmask the networks are compared unmasked, whatever the record's netmask.
    if (!key.HasNetwork() || !key.HasNetmask() || network == 0) return false;
    byNetwork_.AppendTo(network, out);
    return true;
  }
  // Identity with a MAC: records with that MAC, and, when the key has a network, records
  // without a MAC on the same masked network.
  if (key.HasMac()) {
    if (key.HasNetwork()) {
      if (network == 0) return false;
      byNetwork_.AppendTo(network, out);
    }
    byMac_.AppendTo(MacKey(key), out);
    return true;
  }
  // Identity without a MAC compares only the netmask and the masked network.
  if (network == 0) return false;
  byNetwork_.AppendTo(network, out);
  return true;
}
