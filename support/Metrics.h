#pragma once

#include <atomic>
#include <cstdint>

// What the service counts for its metrics: plain atomic counters that every layer bumps
// where the thing happens, and that the metrics page reads. Counting never fails and
// never blocks.
struct Metrics {
  // The result words a gateway answers with, as the senders tell them apart.
  enum Answer : int { kOk, kNoList, kInvalidVersion, kInvalidAcl, kInvalidOpcode, kInvalidCount,
                      kInvalidAclFormat, kOtherWord, kHttpError, kAnswerKinds };

  std::atomic<std::uint64_t> requestsSent{0};     // header and body written to a gateway
  std::atomic<std::uint64_t> answers[kAnswerKinds]{};
  std::atomic<std::uint64_t> triesFailed{0};      // a try that got no whole answer
  std::atomic<std::uint64_t> requestsDropped{0};  // after the fourth failed try
  std::atomic<std::uint64_t> probesSent{0};
  std::atomic<std::uint64_t> probesAnswered{0};
  std::atomic<std::int64_t> consoleSessions{0};
};

// The counters of the process.
Metrics& GetMetrics();

inline void Count(std::atomic<std::uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
