#include "service/DescriptorBudget.h"

#include <sys/resource.h>

#include "support/AdminReport.h"

namespace {

// Counted on a running service: 65 descriptors with every worker started and no
// connection, 6 more for each console session (its socket, events and thread queues).
constexpr rlim_t kStarted = 65;
constexpr rlim_t kPerSession = 6;
constexpr rlim_t kSessions = 10;
// One socket each for the five senders and the five probers, the metrics listener and its
// 64 connections, the log socket and a file being saved or loaded; then room to spare.
constexpr rlim_t kWorkers = 5 + 5;
constexpr rlim_t kMetrics = 1 + 64;
constexpr rlim_t kOther = 1 + 2;
constexpr rlim_t kMargin = 32;
constexpr rlim_t kNeeded = kStarted + kPerSession * kSessions + kWorkers + kMetrics + kOther + kMargin;

}  // namespace

void CheckDescriptorBudget() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur >= kNeeded) return;
  ReportFailure(4,
                "The limit of open files is %llu, and the service needs about %llu with every console slot busy; "
                "connections may wait. Raise it (LimitNOFILE= in the unit, ulimit -n in a shell).",
                static_cast<unsigned long long>(limit.rlim_cur), static_cast<unsigned long long>(kNeeded));
}
