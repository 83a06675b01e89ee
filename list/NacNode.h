#pragma once

#include <cstddef>
#include <cstdint>

#include "list/NacListItem.h"

class CNacList;

// One element of a guarded list. The node owns its record; only the list's sentinel has
// none. Linking is the list's business, so the neighbours are reachable only through it.
// Nodes come from a pool of their own (support/FixedPool.h): a registry of 100,000 PCs
// holds as many, and malloc would make each half as large again.
class CNacNode final {
 public:
  CNacNode() = default;
  CNacNode(const CNacNode&) = delete;
  CNacNode& operator=(const CNacNode&) = delete;
  ~CNacNode();

  static void* operator new(std::size_t size);
  static void operator delete(void* node) noexcept;

  CNacListItem* Record() const { return record_; }
  // Position in its list: a node nearer the head has a smaller order. Kept by the list.
  std::int64_t Order() const { return order_; }

  // The record as the class the caller put in; the list does not check it.
  template <class T>
  T* RecordAs() const {
    return static_cast<T*>(record_);
  }

  // Hands the record to the caller, so that destroying the node keeps it.
  CNacListItem* ReleaseRecord() {
    CNacListItem* record = record_;
    record_ = nullptr;
    return record;
  }

 private:
  friend class CNacList;

  CNacListItem* record_ = nullptr;
  CNacNode* previous_ = nullptr;
  CNacNode* next_ = nullptr;
  std::int64_t order_ = 0;
};
