#pragma once

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "list/NacNode.h"

// Nodes by a key taken from their records: the building block of the registry indexes.
// Not locked itself; it lives under its list's lock.
template <class Key, class Hash = std::hash<Key>>
class CNacNodeMap {
 public:
  // Grows the table four-fold where it would double: every growth rehashes each entry, at a
  // cache miss apiece once a registry holds tens of thousands of records.
  void Add(const Key& key, CNacNode* node) {
    if (map_.size() >= map_.bucket_count()) map_.reserve(std::max<std::size_t>(16, map_.size() * 4));
    map_.emplace(key, node);
  }

  void Remove(const Key& key, const CNacNode* node) {
    auto [first, last] = map_.equal_range(key);
    for (auto it = first; it != last; ++it) {
      if (it->second == node) {
        map_.erase(it);
        return;
      }
    }
  }

  void Clear() { map_.clear(); }

  void AppendTo(const Key& key, std::vector<CNacNode*>& out) const {
    auto [first, last] = map_.equal_range(key);
    for (auto it = first; it != last; ++it) out.push_back(it->second);
  }

 private:
  std::unordered_multimap<Key, CNacNode*, Hash> map_;
};
