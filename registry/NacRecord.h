#pragma once

#include <cstdint>

#include "list/NacListItem.h"

// The base of every registry record. Changes are two-phase: commands and loads only set
// these flags, and the ACL engine later sends the rules, then clears added or erases the
// record.
class CNacRecord : public CNacListItem {
 public:
  CNacRecord() = default;
  CNacRecord(const CNacRecord&) = default;
  ~CNacRecord() override;

  // Copies the two flags; each record class adds the copy of its own fields.
  virtual CNacRecord& operator=(const CNacRecord& other);

  bool IsLive() const { return deleted == 0; }

  std::int32_t added = 0;    // 1 until the addition has been turned into ACL requests
  std::int32_t deleted = 0;  // 1 once withdrawn; the record stays until the removal is sent
};

// The body of each record class's operator=(const CNacRecord&): every field when other is
// a Record too, else only the flags.
template <class Record>
Record& AssignRecord(Record& self, const CNacRecord& other) {
  if (const auto* same = dynamic_cast<const Record*>(&other)) return self = *same;
  self.CNacRecord::operator=(other);
  return self;
}
