#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "keepalive/IcmpPing.h"
#include "keepalive/KeepAliveData.h"
#include "list/NacList.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Thread.h"

// One of the scheduler's five probers: pings each gateway of its job list once, records
// the answer in the gateway registry and reports ON and OFF transitions to its owner, the
// scheduler's message thread.
//
// Threads: its worker (KeepAliveProc), one step below normal priority. The job list is
// filled by the scheduler's timer thread and emptied by the worker, under its own lock.
class CNacKeepAliveThread final : public OwnerThread {
 public:
  // Throws ThrownText when its events cannot be made.
  CNacKeepAliveThread();
  ~CNacKeepAliveThread();
  CNacKeepAliveThread(const CNacKeepAliveThread&) = delete;
  CNacKeepAliveThread& operator=(const CNacKeepAliveThread&) = delete;

  // Reads the ping mode and starts the worker; -1 when the thread cannot be made.
  int CreateProbeThread(int index);
  // Queues a job and wakes the worker: 0, or -1 (the job is dropped).
  int AddJob(std::unique_ptr<CKeepAliveData> job);
  // Jobs waiting; the one being probed no longer counts.
  std::int32_t JobCount() { return jobs_.GetCount(false); }
  // Ends the worker (after the jobs it holds) and waits for it.
  void StopThread();

 private:
  void KeepAliveProc();
  void KeepAliveSend();
  int Ping(std::uint32_t address);
  void Report(std::uint32_t message, std::uint32_t address);

  CNacList jobs_;
  std::optional<platform::Event> workEvent_;
  std::optional<platform::Event> endEvent_;
  std::uint32_t index_ = 0;
  PingMode mode_ = PingMode::kRaw;
  platform::Thread thread_;
};
