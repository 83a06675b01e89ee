#include "platform/SpinLock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// More threads than processors add to one plain counter under the lock, so that waiters
// both spin and yield to a holder that lost its processor: no addition is lost.
TEST(SpinLockTest, ThreadsAddingUnderItLoseNoAddition) {
  constexpr int kThreads = 4;
  constexpr int kAdds = 50000;
  platform::SpinLock lock;
  long counter = 0;
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kAdds; ++i) {
          platform::SpinLockHolder hold(lock);
          counter = counter + 1;
        }
      });
    }
  }
  EXPECT_EQ(counter, long{kThreads} * kAdds);
}

}  // namespace
