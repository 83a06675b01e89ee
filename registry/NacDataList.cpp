#include "registry/NacDataList.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "registry/NacNodeMap.h"
#include "registry/RecordText.h"
#include "support/TextScan.h"

namespace {

std::uint64_t SourceAndTarget(const CNacData& entry) {
  return (std::uint64_t{entry.source} << 32) | static_cast<std::uint32_t>(entry.target);
}

std::uint64_t SourceAndTargetOf(const CNacNode& node) { return SourceAndTarget(*node.RecordAs<CNacData>()); }

// Both rules ask for equal source and target, so the entries that share them are every
// candidate a key can have; hosts rarely carry more than a couple of entries each.
class CNacDataIndex final : public CNacRecordIndex<CNacData> {
 public:
  void NodeLinked(CNacNode& node) override {
    // Without the node the index could name too few candidates, so it steps aside
    // until the list is next emptied.
    try {
      nodes_.Add(SourceAndTarget(*node.RecordAs<CNacData>()), &node);
    } catch (const std::bad_alloc&) {
      complete_ = false;
    }
  }
  void NodeUnlinked(CNacNode& node) override { nodes_.Remove(SourceAndTarget(*node.RecordAs<CNacData>()), &node); }
  void AllUnlinked() override {
    nodes_.Clear();
    complete_ = true;
  }
  bool Candidates(Rule /*rule*/, const CNacData& key, CandidateNodes& out) override {
    if (!complete_) return false;
    nodes_.AppendTo(SourceAndTarget(key), out);
    return true;
  }

  void LoadBegins() override { nodes_.BeginRun(); }
  void LoadProgress(std::uint64_t done, std::uint64_t total) override { nodes_.ProjectRun(done, total); }
  void LoadEnds() override { nodes_.EndRun(); }

 private:
  CNacNodeMap<std::uint64_t, SourceAndTargetOf> nodes_;
  bool complete_ = true;
};

void SaveLine(const CNacData& entry, std::string& out) {
  out += entry.target == CNacData::kDrop ? "\"drop\",\"" : "\"accept\",\"";
  out += entry.sourceText;
  out += "\",\"";
  out += entry.macText;
  out += "\"\r\n";
}

// Columns: target, source, MAC. The target and the source are required; the MAC may be
// empty or absent.
bool ParseLine(char* line, CNacData& entry) {
  char* cursor = line;
  char* column = nullptr;
  try {
    cursor = NextCsvToken(cursor, &column);
    if (cursor == nullptr) return false;
    if (std::strcmp(column, "accept") == 0) {
      entry.target = CNacData::kAccept;
    } else if (std::strcmp(column, "drop") == 0) {
      entry.target = CNacData::kDrop;
    } else {
      return false;
    }
    cursor = NextCsvToken(cursor, &column);
    if (cursor == nullptr || *column == '\0' || !entry.SetSource(column)) return false;
    cursor = NextCsvToken(cursor, &column);
    return cursor == nullptr || entry.SetMac(column);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

CNacDataList::CNacDataList() : CNacRecordList(Matches, Matches, std::make_unique<CNacDataIndex>()) {}

CNacDataList::~CNacDataList() = default;

bool CNacDataList::Matches(const CNacData& entry, const CNacData& key) {
  if (entry.source != key.source || entry.target != key.target) return false;
  return !key.HasMac() || entry.mac == key.mac;
}

namespace {

// False when the MAC text could not be rewritten.
bool Normalized(CNacData& entry) {
  try {
    // False for an entry without MAC, which stays without; a MAC was checked when set.
    (void)NormalizeMacText(entry.macText, entry.mac);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

int CNacDataList::AddUnique(CNacData* entry) {
  if (entry == nullptr || !Normalized(*entry)) return -1;
  return AddUniqueRecord(entry);
}

int CNacDataList::AddUnique(CNacData* entry, const Guard& held) {
  if (entry == nullptr || !Normalized(*entry)) return -1;
  return AddUniqueRecord(entry, held);
}

CNacDataList& GetNacDataList() {
  static CNacDataList list;
  return list;
}

int CNacDataList::Save(const char* path) {
  if (path == nullptr) return -1;
  return SaveLines(path, 0644, SaveLine);
}

int CNacDataList::Load(const char* path, const std::atomic<int>* stop) {
  if (path == nullptr) return -1;
  return LoadLines(path, "I failed in making of CNacData.", ParseLine, stop);
}
