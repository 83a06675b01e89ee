#include "registry/PcDataList.h"

#include <memory>
#include <new>
#include <string>

#include "registry/PcDataIndex.h"
#include "support/TextScan.h"

namespace {

constexpr mode_t kFileMode = 0644;

bool SameMaskedNetwork(const CPcData& a, const CPcData& b) {
  return a.netmask == b.netmask && (a.network & a.netmask) == (b.network & b.netmask);
}

void AppendQuoted(std::string& out, const std::string& text) {
  out += '"';
  out += text;
  out += '"';
}

void SaveLine(const CPcData& pc, std::string& out) {
  AppendQuoted(out, pc.macText);
  out += ',';
  if (pc.HasSource()) AppendQuoted(out, pc.sourceText);
  out += ',';
  AppendQuoted(out, pc.networkText);
  out += ',';
  AppendQuoted(out, pc.netmaskText);
  out += "\r\n";
}

// Columns in file order: MAC, source, network, netmask. An absent column leaves its text
// empty; a present one must be empty or valid.
bool ParseLine(char* line, CPcData& pc) {
  using Setter = bool (CPcData::*)(const char*);
  static constexpr Setter kColumns[] = {&CPcData::SetMac, &CPcData::SetSource, &CPcData::SetNetwork,
                                        &CPcData::SetNetmask};
  char* cursor = line;
  try {
    for (Setter set : kColumns) {
      char* column = nullptr;
      cursor = NextCsvToken(cursor, &column);
      if (cursor != nullptr && !(pc.*set)(column)) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

CPcDataList::CPcDataList() : CNacRecordList(MatchRule, IdentityRule, std::make_unique<CPcDataIndex>()) {}

CPcDataList::~CPcDataList() = default;

bool CPcDataList::IdentityRule(const CPcData& record, const CPcData& key) {
  if (key.HasMac()) {
    if (record.HasMac()) {
      if (record.mac != key.mac) return false;
      if (key.HasSource()) return record.HasSource() && record.source == key.source;
      if (key.HasNetwork()) return record.HasNetwork() && SameMaskedNetwork(record, key);
      return true;  // a MAC alone stands for every record of that MAC
    }
    return key.HasNetwork() && record.HasNetwork() && SameMaskedNetwork(record, key);
  }
  return SameMaskedNetwork(record, key);
}

bool CPcDataList::MatchRule(const CPcData& record, const CPcData& key) {
  if (key.HasMac()) {
    if (!record.HasMac() || record.mac != key.mac) return false;
    if (key.HasSource() && (!record.HasSource() || record.source != key.source)) return false;
  } else if (record.HasMac()) {
    return false;
  }
  if (!key.HasNetwork()) return true;
  if (!record.HasNetwork()) return false;
  if (!key.HasNetmask()) return record.network == key.network;
  return SameMaskedNetwork(record, key);
}

int CPcDataList::AddUnique(CPcData* record) {
  Guard guard(*this);
  return AddUnique(record, guard);
}

int CPcDataList::AddUnique(CPcData* record, const Guard& held) {
  if (record == nullptr) return -1;
  if (record->HasSource() && record->HasNetwork()) return -1;
  if (!record->HasMac() && (record->HasSource() || !record->HasNetwork())) return -1;
  if (LiveIdentityExists(*record, held)) return -1;
  try {
    record->NormalizeMac();
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return Append(record, held);
}

int CPcDataList::Save(const char* path) { return SaveLines(path, kFileMode, SaveLine); }

int CPcDataList::Load(const char* path, const std::atomic<int>* stop) {
  return LoadLines(path, "I failed in making of CPcData.", ParseLine, stop);
}

CPcDataList& GetPcDataList() {
  static CPcDataList list;
  return list;
}
