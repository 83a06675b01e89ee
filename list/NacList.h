#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "list/NacListItem.h"
#include "list/NacNode.h"
#include "platform/ThreadSafety.h"

// Told of every node that enters or leaves a list, under the list's lock: the registries
// keep their indexes in step with the list this way, whichever operation changed it.
class CNacListObserver {
 public:
  virtual void NodeLinked(CNacNode& node) = 0;
  virtual void NodeUnlinked(CNacNode& node) = 0;
  // Every node left at once (RemoveAll).
  virtual void AllUnlinked() = 0;

 protected:
  ~CNacListObserver() = default;
};

// Non-zero when the record matches the key. The key is whatever the caller compares
// against, usually a record of the same class; the predicate casts both to what it knows.
using CNacPredicate = int (*)(const CNacListItem* record, const void* key);

// A circular doubly linked list behind a sentinel, with one re-entrant lock. It serves as
// every registry and as the first-in, first-out queue of the other subsystems, and owns
// what its nodes carry.
//
// Every virtual operation takes `locked` last: false makes it take the lock itself and give
// it back before it returns; true means the caller holds the lock and it is left alone.
// A caller outside the list that holds the lock says so with its Guard instead: each
// operation has a twin that takes the guard, which clang's lock analysis checks is held.
// Nodes and records found are only valid while the lock is held.
class VELNOR_CAPABILITY("guarded list") CNacList {
 public:
  // Holds the list's lock for a scope. The searches that hand out records and the guard
  // twins of the operations ask for one, so that what they find is never used outside
  // the lock.
  class VELNOR_SCOPED_CAPABILITY Guard {
   public:
    explicit Guard(CNacList& list) VELNOR_ACQUIRE(list) VELNOR_NO_THREAD_SAFETY_ANALYSIS : list_(&list) {
      list_->Lock();
    }
    ~Guard() VELNOR_RELEASE() VELNOR_NO_THREAD_SAFETY_ANALYSIS { list_->Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    bool Holds(const CNacList& list) const { return list_ == &list; }

   private:
    CNacList* list_;
  };

  CNacList();
  CNacList(const CNacList&) = delete;
  CNacList& operator=(const CNacList&) = delete;

  // Waits without time limit; the holding thread may take it again, once per Unlock.
  void Lock() VELNOR_ACQUIRE();
  void Unlock() VELNOR_RELEASE();

  // The registries derive from the list and override only the destructor; the slot order
  // of these operations is fixed.
  virtual ~CNacList();
  virtual bool IsEmpty(bool locked);
  // The first node from the head, or from start itself, whose record matches the key.
  virtual CNacNode* Search(const void* key, CNacPredicate predicate, bool locked);
  virtual CNacNode* SearchFrom(CNacNode* start, const void* key, CNacPredicate predicate, bool locked);
  // The list takes the record (not null) unless this throws ThrownText because the node
  // could not be made; the caller keeps it then.
  virtual void InsertAfter(CNacNode* node, CNacListItem* record, bool locked);
  virtual void AddHead(CNacListItem* record, bool locked);
  virtual void AddTail(CNacListItem* record, bool locked);
  // Destroys the node with its record. Nothing happens for no node or an empty list.
  virtual void Remove(CNacNode* node, bool locked);
  virtual void RemoveHead(bool locked);
  virtual void RemoveTail(bool locked);
  // Matches by pointer, never by content.
  virtual void RemoveData(const CNacListItem* record, bool locked);
  virtual void RemoveAll(bool locked);
  // Takes the node out and hands it, with its record, to the caller; none when there is
  // no such node.
  virtual std::unique_ptr<CNacNode> Unlink(CNacNode* node, bool locked);
  virtual std::unique_ptr<CNacNode> UnlinkHead(bool locked);
  virtual std::unique_ptr<CNacNode> UnlinkTail(bool locked);
  virtual std::unique_ptr<CNacNode> UnlinkData(const CNacListItem* record, bool locked);
  virtual CNacNode* GetHead(bool locked);
  // None after the last node.
  virtual CNacNode* GetNext(const CNacNode* node, bool locked);
  virtual std::int32_t GetCount(bool locked);

  // The operations under the caller's hold of the lock, proved by its guard.
  bool IsEmpty(const Guard& held) VELNOR_REQUIRES(this) { return IsEmpty(CheckHeld(held)); }
  CNacNode* Search(const void* key, CNacPredicate predicate, const Guard& held) VELNOR_REQUIRES(this) {
    return Search(key, predicate, CheckHeld(held));
  }
  CNacNode* SearchFrom(CNacNode* start, const void* key, CNacPredicate predicate, const Guard& held)
      VELNOR_REQUIRES(this) {
    return SearchFrom(start, key, predicate, CheckHeld(held));
  }
  void InsertAfter(CNacNode* node, CNacListItem* record, const Guard& held) VELNOR_REQUIRES(this) {
    InsertAfter(node, record, CheckHeld(held));
  }
  void AddHead(CNacListItem* record, const Guard& held) VELNOR_REQUIRES(this) { AddHead(record, CheckHeld(held)); }
  void AddTail(CNacListItem* record, const Guard& held) VELNOR_REQUIRES(this) { AddTail(record, CheckHeld(held)); }
  void Remove(CNacNode* node, const Guard& held) VELNOR_REQUIRES(this) { Remove(node, CheckHeld(held)); }
  void RemoveHead(const Guard& held) VELNOR_REQUIRES(this) { RemoveHead(CheckHeld(held)); }
  void RemoveTail(const Guard& held) VELNOR_REQUIRES(this) { RemoveTail(CheckHeld(held)); }
  void RemoveData(const CNacListItem* record, const Guard& held) VELNOR_REQUIRES(this) {
    RemoveData(record, CheckHeld(held));
  }
  void RemoveAll(const Guard& held) VELNOR_REQUIRES(this) { RemoveAll(CheckHeld(held)); }
  std::unique_ptr<CNacNode> Unlink(CNacNode* node, const Guard& held) VELNOR_REQUIRES(this) {
    return Unlink(node, CheckHeld(held));
  }
  std::unique_ptr<CNacNode> UnlinkHead(const Guard& held) VELNOR_REQUIRES(this) {
    return UnlinkHead(CheckHeld(held));
  }
  std::unique_ptr<CNacNode> UnlinkTail(const Guard& held) VELNOR_REQUIRES(this) {
    return UnlinkTail(CheckHeld(held));
  }
  std::unique_ptr<CNacNode> UnlinkData(const CNacListItem* record, const Guard& held) VELNOR_REQUIRES(this) {
    return UnlinkData(record, CheckHeld(held));
  }
  CNacNode* GetHead(const Guard& held) VELNOR_REQUIRES(this) { return GetHead(CheckHeld(held)); }
  CNacNode* GetNext(const CNacNode* node, const Guard& held) VELNOR_REQUIRES(this) {
    return GetNext(node, CheckHeld(held));
  }
  std::int32_t GetCount(const Guard& held) VELNOR_REQUIRES(this) { return GetCount(CheckHeld(held)); }

 protected:
  // The `locked` of a guard twin: true, the lock being held. A guard of another list
  // would leave this one unlocked, a fault of the caller's that ends the process.
  bool CheckHeld(const Guard& held) const {
    if (!held.Holds(*this)) std::abort();
    return true;
  }

  // Set by a registry before its first record; the observer outlives the list's records.
  void SetObserver(CNacListObserver* observer) { observer_ = observer; }

 private:
  // The virtual operations' hold: the lock unless the caller has it (locked). Either way
  // the analysis takes the lock as held inside the operation.
  class VELNOR_SCOPED_CAPABILITY Hold {
   public:
    Hold(CNacList& list, bool locked) VELNOR_ACQUIRE(list) VELNOR_NO_THREAD_SAFETY_ANALYSIS
        : list_(&list),
          owns_(!locked) {
      if (owns_) list_->Lock();
    }
    ~Hold() VELNOR_RELEASE() VELNOR_NO_THREAD_SAFETY_ANALYSIS {
      if (owns_) list_->Unlock();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    CNacList* list_;
    bool owns_;
  };

  CNacNode* FirstOrNone() { return sentinel_.next_ == &sentinel_ ? nullptr : sentinel_.next_; }
  CNacNode* LastOrNone() { return sentinel_.previous_ == &sentinel_ ? nullptr : sentinel_.previous_; }
  CNacNode* FindRecord(const CNacListItem* record);
  void Link(CNacNode* after, CNacNode* node, CNacListItem* record);
  std::unique_ptr<CNacNode> Detach(CNacNode* node);
  void CountDown();
  void Renumber();

  std::recursive_mutex mutex_;
  CNacNode sentinel_;  // carries no record; its next is the head and its previous the tail
  std::int32_t count_ = 0;
  CNacListObserver* observer_ = nullptr;
};
