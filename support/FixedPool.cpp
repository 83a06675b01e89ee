#include "support/FixedPool.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELNOR_POOL_BYPASS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELNOR_POOL_BYPASS 1
#endif
#endif

namespace {

constexpr std::size_t kSlabBytes = 64 * 1024;

// A free block holds the link to the next, so it is never smaller than a pointer.
std::size_t Rounded(std::size_t size) {
  constexpr std::size_t kUnit = alignof(void*);
  return (std::max(size, sizeof(void*)) + kUnit - 1) / kUnit * kUnit;
}

}  // namespace

// A slab's header, followed by its blocks. Blocks are first cut in order from the start
// (carved); a freed block goes on the slab's free list, its first bytes holding the link.
struct FixedPool::Slab {
  Slab* previous = nullptr;  // in the list of available slabs
  Slab* next = nullptr;
  void* free = nullptr;
  std::size_t carved = 0;
  std::size_t live = 0;
  bool listed = false;  // whether it is in the list of available slabs

  unsigned char* Blocks();
};

// The header's room, kept to the strictest alignment so that the blocks after it are aligned.
std::size_t FixedPool::HeaderBytes() {
  constexpr std::size_t kAlign = alignof(std::max_align_t);
  return (sizeof(Slab) + kAlign - 1) / kAlign * kAlign;
}

unsigned char* FixedPool::Slab::Blocks() { return reinterpret_cast<unsigned char*>(this) + HeaderBytes(); }

FixedPool::FixedPool(std::size_t blockSize)
    : blockSize_(Rounded(blockSize)), blocksPerSlab_((kSlabBytes - HeaderBytes()) / blockSize_) {}

FixedPool::~FixedPool() {
  for (Slab* slab : slabs_) {
    slab->~Slab();
    ::operator delete(slab);
  }
}

#ifdef VELNOR_POOL_BYPASS

void* FixedPool::Allocate() { return ::operator new(blockSize_); }

void FixedPool::Free(void* block) noexcept { ::operator delete(block); }

#else

void* FixedPool::Allocate() {
  if (heapOnly_.load(std::memory_order_relaxed)) return ::operator new(blockSize_);
  platform::SpinLockHolder hold(lock_);
  if (available_ == nullptr) {
    Slab* slab = spare_;
    if (slab != nullptr) {
      spare_ = nullptr;
    } else {
      // Room in the index first, so that a failure leaves nothing behind.
      if (slabs_.size() == slabs_.capacity()) slabs_.reserve(std::max<std::size_t>(16, slabs_.size() * 2));
      slab = new (::operator new(kSlabBytes)) Slab;
      slabs_.insert(std::upper_bound(slabs_.begin(), slabs_.end(), slab, std::less<Slab*>()), slab);
    }
    slab->listed = true;
    available_ = slab;
  }
  Slab* slab = available_;
  void* block;
  if (slab->free != nullptr) {
    block = slab->free;
    slab->free = *static_cast<void**>(block);
  } else {
    block = slab->Blocks() + slab->carved * blockSize_;
    ++slab->carved;
  }
  ++slab->live;
  if (slab->free == nullptr && slab->carved == blocksPerSlab_) {
    available_ = slab->next;
    if (available_ != nullptr) available_->previous = nullptr;
    slab->next = nullptr;
    slab->listed = false;
  }
  return block;
}

void FixedPool::Free(void* block) noexcept {
  if (block == nullptr) return;
  platform::SpinLockHolder hold(lock_);
  Slab* slab = SlabOf(block);
  if (slab == nullptr) {
    // Taken from the heap on its own (TakeEachBlockFromTheHeap); anything else would be a
    // fault of the caller.
    if (!heapOnly_.load(std::memory_order_relaxed)) std::abort();
    ::operator delete(block);
    return;
  }
  *static_cast<void**>(block) = slab->free;
  slab->free = block;
  --slab->live;
  if (slab->live == 0) {
    Release(slab);
    return;
  }
  if (!slab->listed) {
    slab->listed = true;
    slab->previous = nullptr;
    slab->next = available_;
    if (available_ != nullptr) available_->previous = slab;
    available_ = slab;
  }
}

#endif

std::size_t FixedPool::SlabCount() {
  platform::SpinLockHolder hold(lock_);
  return slabs_.size();
}

// An empty slab leaves the available list; it becomes the spare, or goes back to the heap
// when there is one already.
void FixedPool::Release(Slab* slab) {
  if (slab->listed) {
    if (slab->previous != nullptr) slab->previous->next = slab->next;
    if (slab->next != nullptr) slab->next->previous = slab->previous;
    if (available_ == slab) available_ = slab->next;
    slab->previous = nullptr;
    slab->next = nullptr;
    slab->listed = false;
  }
  slab->free = nullptr;
  slab->carved = 0;
  if (spare_ == nullptr) {
    spare_ = slab;
    return;
  }
  slabs_.erase(std::lower_bound(slabs_.begin(), slabs_.end(), slab, std::less<Slab*>()));
  slab->~Slab();
  ::operator delete(slab);
}

FixedPool::Slab* FixedPool::SlabOf(const void* block) const {
  const auto* address = static_cast<const unsigned char*>(block);
  auto after = std::upper_bound(slabs_.begin(), slabs_.end(), address,
                                [](const unsigned char* a, Slab* s) { return std::less<const void*>()(a, s); });
  if (after == slabs_.begin()) return nullptr;
  Slab* slab = *(after - 1);
  if (address >= reinterpret_cast<const unsigned char*>(slab) + kSlabBytes) return nullptr;
  return slab;
}
