#pragma once

#include "registry/NacListItem.h"

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
};
