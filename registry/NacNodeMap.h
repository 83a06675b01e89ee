#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "list/NacNode.h"
#include "registry/CandidateNodes.h"

// Nodes by a key taken from their records: the building block of the registry indexes.
// Not locked itself; it lives under its list's lock.
//
// An open-addressing table of node pointers with linear probing, beside one tag byte per
// slot that holds seven bits of the key's hash. The keys themselves are not kept: a lookup
// names every node whose tag matches (the registry's rule decides on each, so the rare
// stranger among them does no harm), and a growth asks keyOf for each node's key again.
// Nine bytes a slot, where a node-based multimap took some sixty bytes an entry and a cache
// miss for each step along a chain. A key may be filed under many nodes.
template <class Key, Key (*keyOf)(const CNacNode& node)>
class CNacNodeMap {
 public:
  CNacNodeMap() = default;
  CNacNodeMap(const CNacNodeMap&) = delete;
  CNacNodeMap& operator=(const CNacNodeMap&) = delete;

  // May throw std::bad_alloc while growing; the map is then as it was, without the node.
  void Add(const Key& key, CNacNode* node) {
    if ((used_ + 1) * kLoadDenominator > capacity_ * kLoadNumerator) Rebuild(GrownCapacity());
    Place(Hash(key), node);
    ++size_;
  }

  // A run of additions of unknown length, a file load: the map takes its size for the whole
  // run from a sample of it, instead of doubling on the way, each time a trip to every node
  // and record filed so far. BeginRun marks the start. ProjectRun says that the nodes filed
  // since are those of the part done of total, and makes room for the rest at once; the
  // table is the one that the doubling would end with for that many. A sample of less than
  // a sixty-fourth says too little and is passed over. EndRun gives back what a projection
  // took beyond the size that the doubling would have reached. A failure to allocate leaves
  // the map as it was, to grow as usual.
  void BeginRun() {
    runStart_ = size_;
    runCapacity_ = capacity_;
    projected_ = false;
  }
  void ProjectRun(std::uint64_t done, std::uint64_t total) noexcept {
    if (done == 0 || done >= total || done < total / kSmallestSample || size_ <= runStart_) return;
    const double rest =
        static_cast<double>(size_ - runStart_) * static_cast<double>(total - done) / static_cast<double>(done);
    const std::size_t capacity = CapacityFor(size_ + static_cast<std::size_t>(rest));
    if (capacity > capacity_ && TryRebuild(capacity)) projected_ = true;
  }
  void EndRun() noexcept {
    if (!projected_) return;
    projected_ = false;
    const std::size_t fit = std::max(runCapacity_, CapacityFor(size_));
    if (capacity_ > fit) (void)TryRebuild(fit);
  }

  // Leaves a tombstone, which lookups pass over and the next rebuild drops.
  void Remove(const Key& key, const CNacNode* node) {
    if (capacity_ == 0) return;
    const std::uint64_t hash = Hash(key);
    const std::uint8_t tag = TagOf(hash);
    for (std::size_t slot = hash & mask_; tags_[slot] != kEmpty; slot = (slot + 1) & mask_) {
      if (tags_[slot] == tag && nodes_[slot] == node) {
        tags_[slot] = kTombstone;
        --size_;
        return;
      }
    }
  }

  // Gives all the memory back.
  void Clear() {
    storage_.reset();
    tags_ = nullptr;
    nodes_ = nullptr;
    capacity_ = 0;
    mask_ = 0;
    size_ = 0;
    used_ = 0;
    runStart_ = 0;
    runCapacity_ = 0;
    projected_ = false;
  }

  // The slots of the table: what the map costs, nine bytes each.
  std::size_t Capacity() const { return capacity_; }

  // Appends every node filed under key, and now and then one filed under another key.
  void AppendTo(const Key& key, CandidateNodes& out) const {
    if (capacity_ == 0) return;
    const std::uint64_t hash = Hash(key);
    const std::uint8_t tag = TagOf(hash);
    std::size_t slot = hash & mask_;
    for (; tags_[slot] != kEmpty; slot = (slot + 1) & mask_) {
      if (tags_[slot] == tag) out.push_back(nodes_[slot]);
    }
    // A lookup is most often the check before an Add of the same key, which files the node
    // about here: its pointer's line is asked for now.
    __builtin_prefetch(&nodes_[slot], 1);
  }

 private:
  static constexpr std::uint8_t kEmpty = 0;
  static constexpr std::uint8_t kTombstone = 1;
  static constexpr std::uint8_t kFull = 0x80;  // a filed slot's tag: this bit and seven of the hash
  // Filed slots and tombstones take at most four fifths of the table: past that, linear
  // probing's runs grow long.
  static constexpr std::size_t kLoadNumerator = 4;
  static constexpr std::size_t kLoadDenominator = 5;
  static constexpr std::size_t kSmallest = 16;
  static constexpr std::uint64_t kSmallestSample = 64;  // of a run, for a projection
  // How far ahead a rebuild asks for the nodes and records it is about to read.
  static constexpr std::size_t kPrefetchNode = 64;
  static constexpr std::size_t kPrefetchRecord = 32;

  // The keys are often sequential (MAC addresses, networks), so their bits are mixed first.
  static std::uint64_t Hash(const Key& key) {
    std::uint64_t z = static_cast<std::uint64_t>(key);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  static std::uint8_t TagOf(std::uint64_t hash) { return static_cast<std::uint8_t>(kFull | (hash >> 57)); }

  void Place(std::uint64_t hash, CNacNode* node) {
    std::size_t slot = hash & mask_;
    while (tags_[slot] >= kFull) slot = (slot + 1) & mask_;
    if (tags_[slot] == kEmpty) ++used_;
    tags_[slot] = TagOf(hash);
    nodes_[slot] = node;
  }

  // A table twice as large once filed slots would pass half the limit, else one of the same
  // size without the tombstones.
  std::size_t GrownCapacity() const {
    std::size_t capacity = capacity_ == 0 ? kSmallest : capacity_;
    if ((size_ + 1) * kLoadDenominator * 2 > capacity * kLoadNumerator) capacity *= 2;
    return capacity;
  }

  // The smallest table that holds count nodes within the limit: the one that filing them
  // one by one into an empty map ends with.
  static std::size_t CapacityFor(std::size_t count) {
    std::size_t capacity = kSmallest;
    while (count * kLoadDenominator > capacity * kLoadNumerator) capacity *= 2;
    return capacity;
  }

  bool TryRebuild(std::size_t capacity) noexcept {
    try {
      Rebuild(capacity);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Everything is allocated before anything changes.
  void Rebuild(std::size_t capacity) {
    auto storage = std::make_unique_for_overwrite<unsigned char[]>(capacity * (sizeof(CNacNode*) + 1));
    auto* nodes = reinterpret_cast<CNacNode**>(storage.get());
    auto* tags = reinterpret_cast<std::uint8_t*>(storage.get() + capacity * sizeof(CNacNode*));
    std::memset(tags, kEmpty, capacity);

    std::uint8_t* oldTags = tags_;
    CNacNode** oldNodes = nodes_;
    const std::size_t oldCapacity = capacity_;
    std::unique_ptr<unsigned char[]> oldStorage = std::move(storage_);
    storage_ = std::move(storage);
    tags_ = tags;
    nodes_ = nodes;
    capacity_ = capacity;
    mask_ = capacity - 1;
    used_ = 0;
    // The nodes lie all over the heap: each key costs a trip to a node and on to its record,
    // so both are asked for a few slots before they are needed.
    for (std::size_t slot = 0; slot < oldCapacity; ++slot) {
      if (slot + kPrefetchNode < oldCapacity && oldTags[slot + kPrefetchNode] >= kFull) {
        __builtin_prefetch(oldNodes[slot + kPrefetchNode]);
      }
      if (slot + kPrefetchRecord < oldCapacity && oldTags[slot + kPrefetchRecord] >= kFull) {
        // The records keep their keys near their start, which may lie across two lines.
        const auto* record = reinterpret_cast<const char*>(oldNodes[slot + kPrefetchRecord]->Record());
        __builtin_prefetch(record);
        __builtin_prefetch(record + 63);
      }
      if (oldTags[slot] >= kFull) Place(Hash(keyOf(*oldNodes[slot])), oldNodes[slot]);
    }
  }

  std::unique_ptr<unsigned char[]> storage_;  // the node pointers, then the tags
  CNacNode** nodes_ = nullptr;
  std::uint8_t* tags_ = nullptr;
  std::size_t capacity_ = 0;  // a power of two, or 0 before the first node
  std::size_t mask_ = 0;
  std::size_t size_ = 0;  // filed nodes
  std::size_t used_ = 0;  // filed nodes and tombstones
  std::size_t runStart_ = 0;     // size_ at BeginRun
  std::size_t runCapacity_ = 0;  // capacity_ at BeginRun
  bool projected_ = false;       // a projection has sized the table since
};
