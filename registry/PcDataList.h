#pragma once

#include "registry/NacRecordList.h"
#include "registry/PcData.h"

// The client PCs and client networks, and their file pc.csv.
class CPcDataList final : public CNacRecordList<CPcDataList, CPcData> {
 public:
  static constexpr const char* kRecordName = "CPcData";
  // Its file, and its name in the log lines about that file.
  static constexpr const char* kFileName = "pc.csv";
  static constexpr const char* kDataName = "PC";
  // A copy that cannot be made is passed over without a line.
  static constexpr const char* kCopyFailureText = nullptr;

  CPcDataList();
  ~CPcDataList() override;

  // Whether record is the PC or network that key names (deletion and the searches).
  static bool MatchRule(const CPcData& record, const CPcData& key);
  // Whether a stored record stands in the way of adding key.
  static bool IdentityRule(const CPcData& record, const CPcData& key);

  // Stores the record (the list takes it) with its MAC in canonical form and gives 0; -1
  // when its shape is not a PC or network, or a live record has its identity. On -1 the
  // caller still owns the record.
  [[nodiscard]] int AddUnique(CPcData* record);
  [[nodiscard]] int AddUnique(CPcData* record, const Guard& held) VELNOR_REQUIRES(this);

  // One line per live record; 0, or -1 when the file could not be written (the previous
  // file then stays as it was).
  [[nodiscard]] int Save(const char* path);
  // Withdraws the present records and adds those of the file with their added flag. -1
  // when the file cannot be read (nothing changes then) or at the first bad line, which
  // keeps the records of the lines before it; a set stop flag ends it at the next line.
  [[nodiscard]] int Load(const char* path, const std::atomic<int>* stop = nullptr);
};

// The process-wide registry.
CPcDataList& GetPcDataList();
