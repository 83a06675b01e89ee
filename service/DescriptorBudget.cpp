#include "service/DescriptorBudget.h"

#include <sys/resource.h>

#include <algorithm>

#include "delivery/DeliveryLoop.h"
#include "support/AdminReport.h"
#include "support/Settings.h"

namespace {

// Counted on a running service: 65 descriptors with every worker started and no
// connection, 6 more for each console session (its socket, events and thread queues).
constexpr rlim_t kStarted = 65;
constexpr rlim_t kPerSession = 6;
constexpr rlim_t kSessions = 10;
// A socket for each sender and for each try that goes on without one, the two ICMP sockets,
// the metrics listener and its 64 connections, the log socket and a file being saved or
// loaded; then room to spare.
constexpr rlim_t kProbeSockets = 2;
constexpr rlim_t kMetrics = 1 + 64;
constexpr rlim_t kOther = 1 + 2;
constexpr rlim_t kMargin = 32;

rlim_t Needed() {
  const rlim_t senders = std::max<rlim_t>(settings::SenderCount(settings::ReadSenderCountText()), 5);
  return kStarted + kPerSession * kSessions + senders + DeliveryLoop::kParkedLimit + kProbeSockets + kMetrics + kOther +
         kMargin;
}

}  // namespace

void CheckDescriptorBudget() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  const rlim_t needed = Needed();
  if (limit.rlim_cur >= needed) return;
  ReportFailure(4,
                "The limit of open files is %llu, and the service needs about %llu with every console slot busy; "
                "connections may wait. Raise it (LimitNOFILE= in the unit, ulimit -n in a shell).",
                static_cast<unsigned long long>(limit.rlim_cur), static_cast<unsigned long long>(needed));
}
