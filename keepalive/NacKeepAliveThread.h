#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "keepalive/IcmpSocket.h"
#include "keepalive/ProbeTable.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"

// The scheduler's prober: sends one echo request per gateway handed to it, all through one
// ICMP socket, and waits for none of them. Answers are matched to their probes by
// sequence number as they come in; a probe without an answer fails when its window of a
// second closes. Each result goes to the gateway registry, and an ON or OFF transition is
// reported to the owner, the scheduler's message thread.
//
// Threads: its worker (KeepAliveProc), one step below normal priority, which alone uses
// the socket and the table of probes out. The jobs are handed over under a lock.
class CNacKeepAliveThread final : public OwnerThread {
 public:
  // Throws ThrownText when its events cannot be made.
  CNacKeepAliveThread();
  ~CNacKeepAliveThread();
  CNacKeepAliveThread(const CNacKeepAliveThread&) = delete;
  CNacKeepAliveThread& operator=(const CNacKeepAliveThread&) = delete;

  // Reads the ping mode and starts the worker; -1 when the thread cannot be made.
  int CreateProbeThread(int index);
  // Queues a probe of each address (network order) and wakes the worker: 0, or -1 when
  // none could be queued.
  [[nodiscard]] int AddJobs(std::span<const std::uint32_t> addresses);
  // Ends the worker at once and waits for it. The probes it still had, sent or not, end
  // without a result: their gateways are free to be probed again.
  void StopThread();

 private:
  void KeepAliveProc();
  void SendProbes(IcmpSocket& socket);
  void ReadAnswers(IcmpSocket& socket);
  void Answered(std::uint32_t address);
  void Unanswered(std::uint32_t address);
  void ReleaseUnfinished();
  void Report(std::uint32_t message, std::uint32_t address);

  platform::Mutex jobMutex_;
  std::vector<std::uint32_t> jobs_ VELNOR_GUARDED_BY(jobMutex_);
  std::optional<platform::Event> workEvent_;
  std::optional<platform::Event> endEvent_;
  std::uint32_t index_ = 0;
  PingMode mode_ = PingMode::kRaw;

  // The worker's own.
  ProbeTable probes_;
  std::vector<std::uint32_t> taken_;
  std::vector<std::uint16_t> answers_;
  std::vector<std::uint32_t> ended_;

  platform::Thread thread_;
};
