#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "platform/SpinLock.h"

// Blocks of one size for the objects a process keeps by the hundred thousand: the list
// nodes and the PC records of a large registry. The blocks are cut from slabs of 64 KiB,
// so a block costs its size and nothing more, where malloc adds a header of 8 bytes to
// each and rounds up to 16; and handing one out is a pop from a free list. A slab whose
// blocks are all free again goes back to the heap, except for one kept for the next
// allocation, so a queue that fills and drains does not take and give back a slab each time.
//
// Any thread may allocate and free; one spin lock guards the pool, whose sections are a few
// dozen instructions (a new slab aside). A pool must outlive every block it handed out: the
// pools of the list nodes and the records are never destroyed.
//
// A build with a sanitizer takes each block from the heap on its own instead, so that the
// sanitizer still sees every block's life.
class FixedPool {
 public:
  // blockSize is rounded up to a multiple of the alignment of a pointer.
  explicit FixedPool(std::size_t blockSize);
  // Only a pool that no other thread can reach any more is destroyed.
  ~FixedPool() VELNOR_NO_THREAD_SAFETY_ANALYSIS;
  FixedPool(const FixedPool&) = delete;
  FixedPool& operator=(const FixedPool&) = delete;

  // Throws std::bad_alloc when no slab can be had.
  void* Allocate();
  // block must come from this pool's Allocate; none is ignored.
  void Free(void* block) noexcept;

  // The slabs held, the one kept empty included: for tests.
  std::size_t SlabCount();

  // From now on every pool takes each new block from the heap on its own, as the sanitizer
  // builds do: for the tests that make an allocation fail through operator new. Blocks from
  // the slabs go back to them as before.
  static void TakeEachBlockFromTheHeap() { heapOnly_.store(true, std::memory_order_relaxed); }

 private:
  struct Slab;

  static std::size_t HeaderBytes();
  void Release(Slab* slab) VELNOR_REQUIRES(lock_);
  Slab* SlabOf(const void* block) const VELNOR_REQUIRES(lock_);

  static inline std::atomic<bool> heapOnly_{false};

  const std::size_t blockSize_;
  const std::size_t blocksPerSlab_;
  platform::SpinLock lock_;
  std::vector<Slab*> slabs_ VELNOR_GUARDED_BY(lock_);  // ordered by address, to find a block's slab
  Slab* available_ VELNOR_GUARDED_BY(lock_) = nullptr;  // the slabs with a free block, linked
  Slab* spare_ VELNOR_GUARDED_BY(lock_) = nullptr;      // an empty slab kept back, or none
};
