#pragma once

#include <string>

#include "list/NacList.h"
#include "list/NacNode.h"

namespace testing_support {

// Every record of a registry in list order, withdrawn ones too, as fields(record) writes
// it: '-' before a withdrawn record, '+' after one flagged added, ';' after each.
template <class Record, class Fields>
std::string Dump(CNacList& list, Fields fields) {
  std::string out;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const Record& record = *node->RecordAs<Record>();
    out += (record.IsLive() ? "" : "-") + fields(record) + (record.added ? "+;" : ";");
  }
  return out;
}

// Each record's flags alone: "-" before a withdrawn one, "+" after one flagged added.
template <class Record>
std::string Flags(CNacList& list) {
  return Dump<Record>(list, [](const Record&) { return std::string(); });
}

}  // namespace testing_support
