#pragma once

#include "registry/NacData.h"
#include "registry/NacRecordList.h"

// The NAC entries of the process. Entries live as long as the process unless the service
// keeps them in nac.csv (NAC persistence, off by default): one line per live
// entry, "accept" or "drop", the source and the MAC, each in double quotes (two quotes for
// no MAC), as `"accept","192.168.0.1","00:11:22:33:44:55"`. Every operation may be called from any thread and takes the list's lock unless told the
// caller holds it.
//
// An entry's source and target must not change while it is in the list: the index files
// entries under them. Flags may change freely.
class CNacDataList final : public CNacRecordList<CNacDataList, CNacData> {
 public:
  static constexpr const char* kRecordName = "CNacData";
  static constexpr const char* kCopyFailureText = nullptr;
  static constexpr const char* kFileName = "nac.csv";
  static constexpr const char* kDataName = "NAC";

  CNacDataList();
  ~CNacDataList() override;

  // The match rule, which is also the identity rule. A key without MAC matches every
  // entry of its source and target; a key with MAC only the entry with that MAC too.
  static bool Matches(const CNacData& entry, const CNacData& key);

  // Puts the entry's MAC text in canonical form, then stores the entry unless a live
  // entry matches it: 0 and the list owns the entry, or -1 and the caller keeps it.
  [[nodiscard]] int AddUnique(CNacData* entry);
  [[nodiscard]] int AddUnique(CNacData* entry, const Guard& held) VELNOR_REQUIRES(this);

  // nac.csv: 0, or -1 when the file cannot be written whole (the old one stays) or read.
  // A load withdraws the present entries and stops at the first bad line, keeping the
  // entries before it, as the other registries' loads do.
  [[nodiscard]] int Save(const char* path);
  [[nodiscard]] int Load(const char* path, const std::atomic<int>* stop = nullptr);
};

CNacDataList& GetNacDataList();
