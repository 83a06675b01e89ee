#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "keepalive/NacKeepAliveThread.h"
#include "keepalive/ProbeSchedule.h"
#include "keepalive/SendPacer.h"
#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"

// The keep-alive scheduler: hands each gateway whose probe is due to its prober, in the
// order they fall due and at a paced rate, and forwards the prober's ON and OFF reports to
// its owner, the controller. A gateway is probed again no earlier than its interval after
// its last probe was handed over, and never while that probe is still out. Time is the
// monotonic clock's, so a step of the calendar clock moves no probe.
//
// Threads: the message thread (makes the prober, forwards reports, ends everything) and
// the timer thread (TimerProc: the schedule and the hand-over). The timer thread walks the
// gateway registry only when gateways have entered or left it; otherwise it looks at the
// gateways that are due, each found by its address.
class CNacKeepAlive final : public OwnerThread, private MessageThread::Handler {
 public:
  // Probes handed over per second at most, and at once after a quiet spell: the fleet
  // that one interval can hold is the rate times the interval (40,000 gateways at 10 s).
  static constexpr std::int64_t kProbesPerSecond = 4000;
  static constexpr std::int64_t kProbeBurst = 100;

  // Returns with the prober running. Throws ThrownText when its events or message thread
  // cannot be made.
  CNacKeepAlive();
  ~CNacKeepAlive();
  CNacKeepAlive(const CNacKeepAlive&) = delete;
  CNacKeepAlive& operator=(const CNacKeepAlive&) = delete;

  // Starts the schedule: 0, or -1 when the timer thread cannot be made.
  int StartTimer();

  std::uint32_t ThreadId() const { return thread_.Id(); }
  // The owner's stop: the quit message, then the wait for the message thread's end.
  bool PostQuit() const { return thread_.PostQuit(); }
  void WaitForEnd() { thread_.Join(); }

 private:
  void OnCreate() override;
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;

  void TimerProc();
  // One round of the timer thread; gives the time of the next.
  std::int64_t Tick(std::int64_t now);
  void Walk(std::int64_t now);
  void HandOver();
  void StopTimer();
  void StopProber();
  void PostToOwner(std::uint32_t message, const char* failureText);

  platform::Mutex proberMutex_;
  std::unique_ptr<CNacKeepAliveThread> prober_ VELNOR_GUARDED_BY(proberMutex_);
  std::optional<platform::Event> timerEndEvent_;
  platform::Thread timer_;

  // The timer thread's.
  ProbeSchedule schedule_;
  SendPacer pacer_{kProbesPerSecond, kProbeBurst};
  std::optional<std::uint64_t> walkedChanges_;  // the registry's change count at the last walk
  std::int64_t walkedAt_ = 0;
  std::vector<std::uint32_t> jobs_;

  MessageThread thread_;  // last: ended before anything above is destroyed
};
