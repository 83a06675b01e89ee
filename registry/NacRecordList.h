#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "list/NacList.h"
#include "registry/CandidateNodes.h"
#include "registry/CsvFile.h"
#include "registry/LoadFailures.h"
#include "registry/NacRecord.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

// Narrows the candidates of a registry search. It sees every node enter and leave the
// list (under the list's lock) and, for a key, names the nodes that could satisfy a rule;
// the rule itself still decides, so an index may name too many but never too few.
template <class Record>
class CNacRecordIndex : public CNacListObserver {
 public:
  enum class Rule { kMatch, kIdentity };
  virtual ~CNacRecordIndex() = default;
  // Appends the candidate nodes for key to out (in any order, repeats allowed). False when
  // the key does not narrow the search; the list is walked then.
  virtual bool Candidates(Rule rule, const Record& key, CandidateNodes& out) = 0;

  // A file load tells the index how far it has come, so that the index can take its size
  // for the whole file at once instead of doubling on the way: LoadBegins before the first
  // record, LoadProgress once with the bytes read so far of the file's size, LoadEnds after
  // the last record. Nothing by default.
  virtual void LoadBegins() {}
  virtual void LoadProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
  virtual void LoadEnds() {}
};

// What the registries share: the searches by flag and rule, deletion marking, the snapshot
// copy and the frame of the registry files. Derived is the registry class (it provides
// AddUnique); Record its record class.
//
// The searches give what a walk from the head would give: the first record in list order
// that passes; the index only spares the walk.
template <class Derived, class Record>
class CNacRecordList : public CNacList {
 public:
  using Rule = bool (*)(const Record& record, const Record& key);

  // The first live, added or deleted record that matches key, or none. What they find
  // belongs to the list: they take the guard that holds its lock, and the record is only
  // valid while that guard lives.
  Record* FindLive(const Record& key, const Guard& held) VELNOR_REQUIRES(this) {
    return Find(key, Flag::kLive, held);
  }
  Record* FindAdded(const Record& key, const Guard& held) VELNOR_REQUIRES(this) {
    return Find(key, Flag::kAdded, held);
  }
  Record* FindDeleted(const Record& key, const Guard& held) VELNOR_REQUIRES(this) {
    return Find(key, Flag::kDeleted, held);
  }

  // Marks every live record that matches key; gives how many it marked.
  int MarkDeleted(const Record& key) {
    Guard guard(*this);
    int marked = 0;
    ForEachMatch(CNacRecordIndex<Record>::Rule::kMatch, key, guard, [&marked](Record& record) {
      if (record.IsLive()) {
        record.deleted = 1;
        ++marked;
      }
      return false;
    });
    return marked;
  }

  void MarkAllDeleted(std::int32_t value) { SetFlagOfAll(&CNacRecord::deleted, value); }

  // Whether any record carries its added or deleted flag: a change that its rule walk has
  // not processed yet.
  bool HasChanges() {
    Guard guard(*this);
    for (CNacNode* node = GetHead(guard); node != nullptr; node = GetNext(node, guard)) {
      const Record& record = *node->RecordAs<Record>();
      if (record.added != 0 || record.deleted != 0) return true;
    }
    return false;
  }

  // Sets the added flag of every record, live or not; the start-up clears it so that
  // records read from the files never count as new.
  void SetAllAdded(std::int32_t value) { SetFlagOfAll(&CNacRecord::added, value); }

  // Replaces target's records with copies of every record here, live or not; gives the
  // target's count, or -1 without a target.
  [[nodiscard]] int CopyAll(Derived* target) {
    if (target == nullptr) return -1;
    Guard guard(*this);
    target->RemoveAll(false);
    for (CNacNode* node = GetHead(guard); node != nullptr; node = GetNext(node, guard)) {
      const Record& source = *node->RecordAs<Record>();
      Record* copy = nullptr;
      try {
        copy = new Record(source);
        static_cast<Derived*>(this)->CopyDetails(source, *copy);
      } catch (...) {
        delete copy;
        if (Derived::kCopyFailureText != nullptr) SyslogSend(2, "%s", Derived::kCopyFailureText);
        continue;
      }
      if (target->AddUnique(copy) != 0) {
        SyslogSend(4, "I was not able to add %s data to a queue.", Derived::kRecordName);
        delete copy;
      }
    }
    return target->GetCount(false);
  }

  // A piece of a snapshot, for a reader that must neither hold the lock for long nor copy
  // a large list at once: copies of the live records among the limit records that follow
  // the one of order after (the head when there is none), appended to piece. after then
  // names the last record looked at, and the result tells whether any follow it. A record
  // that cannot be copied is passed over, as CopyAll passes it over.
  bool CopyLivePiece(std::optional<std::int64_t>& after, std::size_t limit, std::vector<Record>& piece) {
    Guard guard(*this);
    CNacNode* node = GetHead(guard);
    // Resumed by order, not by node: the node copied last may be gone by now.
    while (node != nullptr && after && node->Order() <= *after) node = GetNext(node, guard);
    for (std::size_t looked = 0; node != nullptr && looked < limit; ++looked, node = GetNext(node, guard)) {
      after = node->Order();
      const Record& source = *node->RecordAs<Record>();
      if (!source.IsLive()) continue;
      try {
        piece.emplace_back(source);
      } catch (...) {
        if (Derived::kCopyFailureText != nullptr) SyslogSend(2, "%s", Derived::kCopyFailureText);
      }
    }
    return node != nullptr;
  }

 protected:
  enum class Flag { kLive, kAdded, kDeleted };

  CNacRecordList(Rule match, Rule identity, std::unique_ptr<CNacRecordIndex<Record>> index)
      : match_(match), identity_(identity), index_(std::move(index)) {
    SetObserver(index_.get());
  }
  // The records go before the index that watches them.
  ~CNacRecordList() override { RemoveAll(false); }

  // A copy's extras beyond its record's copy (a gateway's routes); nothing by default.
  void CopyDetails(const Record& /*source*/, Record& /*copy*/) {}

  // Whether a live record has the identity of candidate. The caller holds the lock.
  bool LiveIdentityExists(const Record& candidate, const Guard& held) VELNOR_REQUIRES(this) {
    return ForEachMatch(CNacRecordIndex<Record>::Rule::kIdentity, candidate, held,
                        [](Record& record) { return record.IsLive(); });
  }

  // AddTail under the caller's lock; -1 when the node cannot be made (the caller keeps
  // the record then).
  [[nodiscard]] int Append(Record* record, const Guard& held) VELNOR_REQUIRES(this) {
    try {
      AddTail(record, held);
    } catch (const ThrownText&) {
      return -1;
    }
    return 0;
  }

  // The identity check and the append under one hold of the lock.
  [[nodiscard]] int AddUniqueRecord(Record* record) {
    Guard guard(*this);
    return AddUniqueRecord(record, guard);
  }
  [[nodiscard]] int AddUniqueRecord(Record* record, const Guard& held) VELNOR_REQUIRES(this) {
    if (LiveIdentityExists(*record, held)) return -1;
    return Append(record, held);
  }

  // Writes one line (built by line, CR LF included) per live record.
  [[nodiscard]] int SaveLines(const char* path, mode_t mode, void (*line)(const Record& record, std::string& out)) {
    CsvFileWriter file(path, mode);
    if (!file.IsOpen()) return -1;
    std::string text;
    {
      Guard guard(*this);
      for (CNacNode* node = GetHead(guard); node != nullptr; node = GetNext(node, guard)) {
        const Record& record = *node->RecordAs<Record>();
        if (!record.IsLive()) continue;
        text.clear();
        line(record, text);
        if (!file.Write(text)) return -1;
      }
    }
    return file.Commit() ? 0 : -1;
  }

  // Reads one record per line with parse, which fills a new record from the line's
  // columns and says whether the line is good. Every good record is stored with its added
  // flag through the registry's AddUnique; the first bad line ends the load with -1. A load
  // that did not read the file whole is logged with the file and the line (a stop ends it
  // without a word) and makes the file's next save keep a backup.
  //
  // The lines are stored under one hold of the lock; a failure is logged once it is given
  // back.
  [[nodiscard]] int LoadLines(const char* path, const char* makeFailureText, bool (*parse)(char* line, Record& record),
                              const std::atomic<int>* stop) {
    CsvLineReader file(path, stop);
    if (file.Opened() == CsvLineReader::State::kMissing) return -1;
    if (!file.IsOpen()) {
      LoadFailed(Derived::kDataName, path, 0, file.Problem());
      return -1;
    }
    bool notMade = false;
    int badLine = 0;
    {
      Guard guard(*this);
      if (!IsEmpty(guard)) SetFlagOfAll(&CNacRecord::deleted, 1, guard);
      badLine = StoreLines(file, parse, notMade, guard);
    }
    if (badLine != 0) {
      if (notMade) SyslogSend(2, "%s", makeFailureText);
      LoadFailed(Derived::kDataName, path, badLine, "");
      return -1;
    }
    if (file.Failed()) {
      LoadFailed(Derived::kDataName, path, 0, file.Problem());
      return -1;
    }
    if (file.Stopped()) return -1;
    LoadSucceeded(path);
    return 0;
  }

  // Calls visit for every record that satisfies rule for key, in no particular order,
  // until visit gives true; gives whether it did. The caller holds the lock.
  template <class Visit>
  bool ForEachMatch(typename CNacRecordIndex<Record>::Rule rule, const Record& key, const Guard& held, Visit visit)
      VELNOR_REQUIRES(this) {
    const Rule test = rule == CNacRecordIndex<Record>::Rule::kMatch ? match_ : identity_;
    // The candidates are the call's own: a visit may search the list again.
    CandidateNodes candidates;
    if (index_ && index_->Candidates(rule, key, candidates)) {
      for (CNacNode* node : candidates) {
        Record& record = *node->RecordAs<Record>();
        if (test(record, key) && visit(record)) return true;
      }
      return false;
    }
    for (CNacNode* node = GetHead(held); node != nullptr; node = GetNext(node, held)) {
      Record& record = *node->RecordAs<Record>();
      if (test(record, key) && visit(record)) return true;
    }
    return false;
  }

 private:
  // The index takes its size from the records of this share of the file.
  static constexpr std::uint64_t kSampleShare = 16;
  // Lines parsed ahead of storing, at a load.
  static constexpr std::size_t kLoadBatch = 64;

  void SetFlagOfAll(std::int32_t CNacRecord::*flag, std::int32_t value) {
    Guard guard(*this);
    SetFlagOfAll(flag, value, guard);
  }
  void SetFlagOfAll(std::int32_t CNacRecord::*flag, std::int32_t value, const Guard& held) VELNOR_REQUIRES(this) {
    for (CNacNode* node = GetHead(held); node != nullptr; node = GetNext(node, held)) {
      node->RecordAs<Record>()->*flag = value;
    }
  }

  // LoadLines' storing: a record for each line, to the end of the file or to the first line
  // that fails, whose number it gives (0 when none did); notMade tells that its record
  // could not be made.
  //
  // The lines are parsed a batch at a time and then stored, which measured about a twentieth
  // faster on a 100,000-line file than storing each line as soon as it is parsed. The records are stored in file order all the same, and a line that fails
  // ends the load after the lines before it.
  int StoreLines(CsvLineReader& file, bool (*parse)(char* line, Record& record), bool& notMade, const Guard& held)
      VELNOR_REQUIRES(this) {
    const std::uint64_t sample = file.Size() / kSampleShare;
    bool sampled = false;
    if (index_) index_->LoadBegins();
    std::unique_ptr<Record> batch[kLoadBatch];
    int lineOf[kLoadBatch];
    int badLine = 0;
    while (badLine == 0) {
      std::size_t parsed = 0;
      int failedLine = 0;  // a line of this batch that did not parse
      while (parsed < kLoadBatch) {
        char* line = file.Next();
        if (line == nullptr) break;
        try {
          // Default-initialized: every member has its initializer, and a value-initialization
          // would first clear the whole record for nothing.
          batch[parsed].reset(new Record);
        } catch (const std::bad_alloc&) {
          notMade = true;
          failedLine = file.LineNumber();
          break;
        }
        if (!parse(line, *batch[parsed])) {
          failedLine = file.LineNumber();
          break;
        }
        lineOf[parsed] = file.LineNumber();
        ++parsed;
      }
      for (std::size_t i = 0; i < parsed; ++i) {
        batch[i]->added = 1;
        if (static_cast<Derived*>(this)->AddUnique(batch[i].get(), held) != 0) {
          badLine = lineOf[i];
          notMade = false;  // the earlier line is the one that failed
          break;
        }
        (void)batch[i].release();
      }
      if (badLine == 0) badLine = failedLine;
      if (badLine != 0 || parsed < kLoadBatch) break;
      if (!sampled && file.Done() >= sample) {
        sampled = true;
        if (index_) index_->LoadProgress(file.Done(), file.Size());
      }
    }
    if (index_) index_->LoadEnds();
    return badLine;
  }

  static bool Passes(const Record& record, Flag flag) {
    switch (flag) {
      case Flag::kLive:
        return record.deleted == 0;
      case Flag::kAdded:
        return record.added != 0;
      case Flag::kDeleted:
        return record.deleted != 0;
    }
    return false;
  }

  Record* Find(const Record& key, Flag flag, const Guard& held) VELNOR_REQUIRES(this) {
    CheckHeld(held);  // the index spares the walk that would check it
    CandidateNodes candidates;
    if (index_ && index_->Candidates(CNacRecordIndex<Record>::Rule::kMatch, key, candidates)) {
      CNacNode* first = nullptr;
      for (CNacNode* node : candidates) {
        const Record& record = *node->RecordAs<Record>();
        if ((first == nullptr || node->Order() < first->Order()) && Passes(record, flag) && match_(record, key)) {
          first = node;
        }
      }
      return first == nullptr ? nullptr : first->RecordAs<Record>();
    }
    for (CNacNode* node = GetHead(held); node != nullptr; node = GetNext(node, held)) {
      Record& record = *node->RecordAs<Record>();
      if (Passes(record, flag) && match_(record, key)) return &record;
    }
    return nullptr;
  }

  const Rule match_;
  const Rule identity_;
  std::unique_ptr<CNacRecordIndex<Record>> index_;
};
