#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "keepalive/NacKeepAliveThread.h"
#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"

// The keep-alive scheduler: every 100 ms it hands each gateway whose probe is due to the
// least busy of its five probers, and forwards their ON and OFF reports to its owner, the
// controller.
//
// Threads: the message thread (makes the probers, forwards reports, ends everything) and
// the timer thread (the scan). Lock order in a hand-over: the prober lock, then the
// gateway registry's lock, then the chosen prober's job list.
class CNacKeepAlive final : public OwnerThread, private MessageThread::Handler {
 public:
  static constexpr int kProbers = 5;

  // Returns with the five probers running. Throws ThrownText when its events or message
  // thread cannot be made.
  CNacKeepAlive();
  ~CNacKeepAlive();
  CNacKeepAlive(const CNacKeepAlive&) = delete;
  CNacKeepAlive& operator=(const CNacKeepAlive&) = delete;

  // Starts the scans: 0, or -1 when the timer thread cannot be made.
  int StartTimer();

  // The index with the fewest jobs, ties to the lowest; -1 when every count is the
  // largest 32-bit number (the count of a missing prober).
  static int LeastBusy(std::span<const std::int32_t> jobCounts);

  std::uint32_t ThreadId() const { return thread_.Id(); }
  // The owner's stop: the quit message, then the wait for the message thread's end.
  bool PostQuit() const { return thread_.PostQuit(); }
  void WaitForEnd() { thread_.Join(); }

 private:
  // What a scan needs of a gateway whose probe is due; the port text and port find the
  // registry's record again under the gateway match rule.
  struct DueGateway {
    std::uint32_t address;
    std::uint16_t port;
    std::string portText;
  };

  void OnCreate() override;
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;

  void TimerProc();
  void Scan();
  void Schedule(const DueGateway& due, std::int64_t now);
  // The prober to hand the next job to; none when there is none. Holds the prober lock.
  CNacKeepAliveThread* LeastBusyProber() VELNOR_REQUIRES(proberMutex_);
  void StopTimer();
  void StopProbers();
  void PostToOwner(std::uint32_t message, const char* failureText);

  platform::Mutex proberMutex_;
  std::array<std::unique_ptr<CNacKeepAliveThread>, kProbers> probers_ VELNOR_GUARDED_BY(proberMutex_);
  std::optional<platform::Event> timerEndEvent_;
  platform::Thread timer_;
  std::vector<DueGateway> due_;  // the timer thread's, reused by every scan
  MessageThread thread_;         // last: ended before anything above is destroyed
};
