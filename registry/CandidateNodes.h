#pragma once

#include <cstddef>
#include <memory>

#include "list/NacNode.h"

// The nodes an index names for one search. A key names one or two nodes as a rule, so the
// first few stay inside the object, on the searching function's stack; a search pays for
// the heap only when a key names more. Growing may throw std::bad_alloc.
class CandidateNodes {
 public:
  CandidateNodes() = default;
  CandidateNodes(const CandidateNodes&) = delete;
  CandidateNodes& operator=(const CandidateNodes&) = delete;

  void push_back(CNacNode* node) {
    if (size_ == capacity_) Grow();
    data_[size_++] = node;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  CNacNode* const* begin() const { return data_; }
  CNacNode* const* end() const { return data_ + size_; }

 private:
  static constexpr std::size_t kInline = 8;

  void Grow() {
    auto larger = std::make_unique<CNacNode*[]>(capacity_ * 2);
    for (std::size_t i = 0; i < size_; ++i) larger[i] = data_[i];
    heap_ = std::move(larger);
    data_ = heap_.get();
    capacity_ *= 2;
  }

  CNacNode* inline_[kInline];
  std::unique_ptr<CNacNode*[]> heap_;
  CNacNode** data_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kInline;
};
