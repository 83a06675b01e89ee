#pragma once

#include "registry/NacRecordList.h"
#include "registry/QuarantineData.h"

// The quarantine servers of the process, kept in quarantine.csv. Every operation may be
// called from any thread and takes the list's lock unless told the caller holds it.
//
// A record's address must not change while it is in the list: the index files records
// under it. Flags may change freely.
class CQuarantineDataList final : public CNacRecordList<CQuarantineDataList, CQuarantineData> {
 public:
  static constexpr const char* kRecordName = "CQuarantineData";
  // Its file, and its name in the log lines about that file.
  static constexpr const char* kFileName = "quarantine.csv";
  static constexpr const char* kDataName = "QUARANTINE";
  static constexpr const char* kCopyFailureText = nullptr;

  CQuarantineDataList();
  ~CQuarantineDataList() override;

  // The match rule, which is also the identity rule: same address bytes, same protocol
  // text and same port text.
  static bool Matches(const CQuarantineData& record, const CQuarantineData& key);

  // Stores the record unless a live record matches it: 0 and the list owns the record, or
  // -1 and the caller keeps it.
  [[nodiscard]] int AddUnique(CQuarantineData* record);
  [[nodiscard]] int AddUnique(CQuarantineData* record, const Guard& held) VELNOR_REQUIRES(this);

  // One line per live record, each column quoted: "172.17.254.254","tcp","4208" CR LF.
  // 0, or -1 when the file cannot be written (the previous file then stays).
  [[nodiscard]] int Save(const char* path);

  // Withdraws the present records and stores those of the file, each flagged added. -1
  // when the file cannot be opened (nothing changes then), on the first bad line (the
  // lines before it stay stored) or on a read error.
  [[nodiscard]] int Load(const char* path, const std::atomic<int>* stop = nullptr);
};

CQuarantineDataList& GetQuarantineDataList();
