#pragma once

#include "registry/NacData.h"
#include "registry/NacRecordList.h"

// The NAC entries of the process. There is no file: entries live as long as the process.
// Every operation may be called from any thread and takes the list's lock unless told the
// caller holds it.
//
// An entry's source and target must not change while it is in the list: the index files
// entries under them. Flags may change freely.
class CNacDataList final : public CNacRecordList<CNacDataList, CNacData> {
 public:
  static constexpr const char* kRecordName = "CNacData";
  static constexpr const char* kCopyFailureText = nullptr;

  CNacDataList();
  ~CNacDataList() override;

  // The match rule, which is also the identity rule. A key without MAC matches every
  // entry of its source and target; a key with MAC only the entry with that MAC too.
  static bool Matches(const CNacData& entry, const CNacData& key);

  // Puts the entry's MAC text in canonical form, then stores the entry unless a live
  // entry matches it: 0 and the list owns the entry, or -1 and the caller keeps it.
  int AddUnique(CNacData* entry);
};

CNacDataList& GetNacDataList();
