#pragma once

#include <string>
#include <vector>

#include "list/NacList.h"
#include "list/NacNode.h"

namespace testing_support {

// The records of a list in order, withdrawn ones too.
template <class Record>
std::vector<Record*> Records(CNacList& list) {
  std::vector<Record*> records;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    records.push_back(node->RecordAs<Record>());
  }
  return records;
}

// Every record of a registry in list order, withdrawn ones too, as fields(record) writes
// it: '-' before a withdrawn record, '+' after one flagged added, ';' after each.
template <class Record, class Fields>
std::string Dump(CNacList& list, Fields fields) {
  std::string out;
  for (const Record* record : Records<Record>(list)) {
    out += (record->IsLive() ? "" : "-") + fields(*record) + (record->added ? "+;" : ";");
  }
  return out;
}

// Each record's flags alone: "-" before a withdrawn one, "+" after one flagged added.
template <class Record>
std::string Flags(CNacList& list) {
  return Dump<Record>(list, [](const Record&) { return std::string(); });
}

}  // namespace testing_support
