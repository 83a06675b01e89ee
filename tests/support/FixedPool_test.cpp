#include "support/FixedPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace {

// Enough blocks of 40 bytes for several slabs of 64 KiB.
constexpr std::size_t kBlockSize = 40;
constexpr int kBlocks = 5000;

// Blocks are distinct, aligned and keep their bytes. Freed blocks are handed out again, and
// slabs whose blocks are all free go back to the heap but one, whichever order the blocks
// come back in.
TEST(FixedPoolTest, BlocksAreDistinctAndSlabsGoBackWhenEmpty) {
  FixedPool pool(kBlockSize);
  std::vector<void*> blocks;
  for (int i = 0; i < kBlocks; ++i) {
    blocks.push_back(pool.Allocate());
    std::memset(blocks.back(), i & 0xff, kBlockSize);
  }
  std::vector<void*> sorted = blocks;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sorted[i]) % alignof(void*), 0u);
    if (i > 0) {
      EXPECT_GE(static_cast<char*>(sorted[i]) - static_cast<char*>(sorted[i - 1]),
                static_cast<std::ptrdiff_t>(kBlockSize)) << "overlap";
    }
  }
  for (int i = 0; i < kBlocks; ++i) {
    for (std::size_t b = 0; b < kBlockSize; ++b) ASSERT_EQ(static_cast<unsigned char*>(blocks[i])[b], i & 0xff) << i;
  }
  pool.Free(nullptr);
  const std::size_t full = pool.SlabCount();
  if (full == 0) {
    for (void* block : blocks) pool.Free(block);
    GTEST_SKIP() << "a sanitizer build takes every block from the heap";
  }
  EXPECT_GE(full, 3u);
  EXPECT_LE(full * 64 * 1024, kBlocks * kBlockSize * 11 / 10 + 64 * 1024) << "slabs half empty";

  // Every other block back: nothing can go, and the free half is used first.
  for (int i = 0; i < kBlocks; i += 2) pool.Free(blocks[i]);
  EXPECT_EQ(pool.SlabCount(), full);
  std::set<void*> freed;
  for (int i = 0; i < kBlocks; i += 2) freed.insert(blocks[i]);
  for (int i = 0; i < kBlocks; i += 2) {
    blocks[i] = pool.Allocate();
    EXPECT_EQ(freed.count(blocks[i]), 1u);
  }
  EXPECT_EQ(pool.SlabCount(), full);

  for (int i = kBlocks - 1; i >= 0; i -= 2) pool.Free(blocks[i]);
  for (int i = 0; i < kBlocks; i += 2) pool.Free(blocks[i]);
  EXPECT_EQ(pool.SlabCount(), 1u) << "the spare slab stays";

  // One block taken and given back over and over lives in the spare.
  for (int i = 0; i < 1000; ++i) pool.Free(pool.Allocate());
  EXPECT_EQ(pool.SlabCount(), 1u);
}

}  // namespace
