#include "registry/QuarantineDataList.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "registry/NacNodeMap.h"
#include "support/TextScan.h"

namespace {

std::uint32_t SourceOf(const CNacNode& node) { return node.RecordAs<CQuarantineData>()->source; }

// The rule asks for equal addresses, so the records of one address are every candidate a
// key can have; a server offers a handful of services.
class CQuarantineDataIndex final : public CNacRecordIndex<CQuarantineData> {
 public:
  void NodeLinked(CNacNode& node) override {
    // Without the node the index could name too few candidates, so it steps aside
    // until the list is next emptied.
    try {
      nodes_.Add(node.RecordAs<CQuarantineData>()->source, &node);
    } catch (const std::bad_alloc&) {
      complete_ = false;
    }
  }
  void NodeUnlinked(CNacNode& node) override { nodes_.Remove(node.RecordAs<CQuarantineData>()->source, &node); }
  void AllUnlinked() override {
    nodes_.Clear();
    complete_ = true;
  }
  bool Candidates(Rule /*rule*/, const CQuarantineData& key, CandidateNodes& out) override {
    if (!complete_) return false;
    nodes_.AppendTo(key.source, out);
    return true;
  }

  void LoadBegins() override { nodes_.BeginRun(); }
  void LoadProgress(std::uint64_t done, std::uint64_t total) override { nodes_.ProjectRun(done, total); }
  void LoadEnds() override { nodes_.EndRun(); }

 private:
  CNacNodeMap<std::uint32_t, SourceOf> nodes_;
  bool complete_ = true;
};

void FormatLine(const CQuarantineData& record, std::string& out) {
  out += '"';
  out += record.sourceText;
  out += "\",\"";
  out += record.protocol;
  out += "\",\"";
  out += record.portText;
  out += "\"\r\n";
}

// The next column, or none when the line has no more (a column of only quotes and blanks
// after the last comma counts as none).
const char* NextColumn(char*& cursor) {
  char* token = nullptr;
  cursor = NextCsvToken(cursor, &token);
  return cursor == nullptr ? nullptr : token;
}

bool ParseColumns(char* line, CQuarantineData& record) {
  char* cursor = line;
  if (const char* source = NextColumn(cursor)) {
    if (!record.SetSource(source)) return false;
  }
  if (const char* protocol = NextColumn(cursor)) {
    record.protocol = protocol;
    if (*protocol != '\0' && record.protocol != "tcp" && record.protocol != "udp") return false;
  }
  // Unlike the other columns, a port that is present must be a number even when empty.
  if (const char* port = NextColumn(cursor)) {
    if (!record.SetPort(port) || record.port == 0) return false;
  }
  return !record.sourceText.empty() && !record.protocol.empty() && !record.portText.empty();
}

// A line whose texts cannot be stored is as bad as a malformed one.
bool ParseLine(char* line, CQuarantineData& record) {
  try {
    return ParseColumns(line, record);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

CQuarantineDataList::CQuarantineDataList()
    : CNacRecordList(Matches, Matches, std::make_unique<CQuarantineDataIndex>()) {}

CQuarantineDataList::~CQuarantineDataList() = default;

bool CQuarantineDataList::Matches(const CQuarantineData& record, const CQuarantineData& key) {
  return record.source == key.source && record.protocol == key.protocol && record.portText == key.portText;
}

int CQuarantineDataList::AddUnique(CQuarantineData* record) {
  if (record == nullptr) return -1;
  return AddUniqueRecord(record);
}

int CQuarantineDataList::AddUnique(CQuarantineData* record, const Guard& held) {
  if (record == nullptr) return -1;
  return AddUniqueRecord(record, held);
}

int CQuarantineDataList::Save(const char* path) {
  if (path == nullptr) return -1;
  return SaveLines(path, 0644, FormatLine);
}

int CQuarantineDataList::Load(const char* path, const std::atomic<int>* stop) {
  if (path == nullptr) return -1;
  return LoadLines(path, "I failed in making of CQuarantineData.", ParseLine, stop);
}

CQuarantineDataList& GetQuarantineDataList() {
  static CQuarantineDataList list;
  return list;
}
