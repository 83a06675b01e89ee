#pragma once

#include <cstdint>

#include "list/NacListItem.h"

class CNacList;

// One element of a guarded list. The node owns its record; only the list's sentinel has
// none. Linking is the list's business, so the neighbours are reachable only through it.
class CNacNode {
 public:
  CNacNode() = default;
  CNacNode(const CNacNode&) = delete;
  CNacNode& operator=(const CNacNode&) = delete;
  virtual ~CNacNode();

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
