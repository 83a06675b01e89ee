#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "delivery/GatewayQueue.h"
#include "delivery/NacHttpClientThread.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"
#include "request/HttpData.h"

// Every exchange with the gateways, on one thread over an epoll set. Each gateway that is owed
// requests has its queue; a sender (one of SENDERS) serves one gateway's try at a time: one
// connection carries the queue in order, each request's answer read before the next goes out.
// A failed try is repeated after 10, 20 and 30 seconds and the request dropped after the
// fourth failure. While a gateway pauses between tries, or is slow to connect or to answer
// (past a short grace), its sender serves the next gateway that waits; so one bad gateway
// never holds back another.
//
// Threads: the loop's own; the dispatcher's event thread places requests; the controller's
// threads erase queues; the dispatcher's message thread ends it. One lock guards everything
// here and is never held while waiting.
class DeliveryLoop {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::int32_t kLastTry = 3;
  // How long a connect or an answer may keep a sender before the try goes on without one, and
  // how many tries may go on so at once (each holds a descriptor). A connect on a working
  // network takes milliseconds; a router's CGI answers in tens of them.
  static constexpr std::chrono::milliseconds kConnectGrace{250};
  static constexpr std::chrono::milliseconds kAnswerGrace{1000};
  static constexpr std::size_t kParkedLimit = 256;
  // The bound of the whole answer, from the request's last byte.
  static constexpr std::chrono::milliseconds kAnswerLimit{10000};

  enum class Placed { kNot, kQueued, kNewQueue, kNoMemory };

  // Makes the senders numbered 0 to senders-1 and starts the loop; owner is told of each
  // connection error. Throws std::system_error when the loop cannot be made.
  DeliveryLoop(int senders, std::uint32_t owner);
  ~DeliveryLoop();
  DeliveryLoop(const DeliveryLoop&) = delete;
  DeliveryLoop& operator=(const DeliveryLoop&) = delete;

  int Senders() const { return senderCount_; }

  // Queues the request (the loop takes it) with its gateway's queue, or makes that queue with
  // a free sender; kNot (the caller keeps it) when there is no queue and no free sender.
  Placed Place(std::unique_ptr<CHttpData>& request);
  // Drops the queue of the gateway at address and whatever try it has under way; the port it
  // had, or none when no queue is held for it.
  std::optional<std::uint16_t> Erase(std::uint32_t address);
  // Requests queued for address, or for every gateway.
  std::int32_t Queued(std::optional<std::uint32_t> address);
  // Adds the requests queued for each gateway to counts (by address).
  void AddQueued(std::unordered_map<std::uint32_t, std::int32_t>& counts);

  // The end, in three steps: no try starts or goes on from BeginStop; StopSender frees one
  // sender, dropping its gateway's queue, and gives the gateway it served (all zeros when
  // free); Stop drops every queue left and joins the thread.
  void BeginStop();
  std::string StopSender(int number);
  void Stop();

 private:
  using Time = Clock::time_point;
  struct Timer {
    Time at;
    std::uint32_t address;
    std::uint64_t token;
    bool operator>(const Timer& other) const { return at > other.at; }
  };
  struct Ticket {
    std::uint32_t address;
    std::uint64_t generation;
  };

  void Run();
  void Wake();
  int WaitMs() VELNOR_REQUIRES(mutex_);
  // A readiness of a gateway's connection; stale tags (an earlier try's) are passed over.
  void HandleEvent(std::uint64_t tag) VELNOR_REQUIRES(mutex_);
  void FireTimers() VELNOR_REQUIRES(mutex_);
  void OnTimer(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void StartWaiting() VELNOR_REQUIRES(mutex_);

  // The steps of a try; each may end the gateway's queue, so nothing touches it after them.
  void StartTry(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void SendNext(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void WriteMore(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void ReadMore(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void Answered(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void Drained(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void ConnectionError(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void TryFailed(GatewayQueue& gateway, int priority, const std::string& text) VELNOR_REQUIRES(mutex_);
  void Pause(GatewayQueue& gateway, std::chrono::milliseconds pause) VELNOR_REQUIRES(mutex_);
  void PauseOver(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void Park(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  // Ends the gateway's queue and whatever try it has: its sender goes back.
  void Drop(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);

  void Arm(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  void ReleaseSender(GatewayQueue& gateway) VELNOR_REQUIRES(mutex_);
  CNacHttpClientThread* FreeSender() VELNOR_REQUIRES(mutex_);
  GatewayQueue* Find(std::uint32_t address) VELNOR_REQUIRES(mutex_);
  static std::uint64_t Tag(const GatewayQueue& gateway);

  const std::uint32_t owner_;
  const int senderCount_;
  platform::UniqueFd epoll_;
  platform::UniqueFd wake_;  // eventfd

  platform::Mutex mutex_;
  bool ending_ VELNOR_GUARDED_BY(mutex_) = false;
  bool stopped_ VELNOR_GUARDED_BY(mutex_) = false;
  Time now_ VELNOR_GUARDED_BY(mutex_){};
  std::vector<CNacHttpClientThread> senders_ VELNOR_GUARDED_BY(mutex_);
  std::size_t freeSenders_ VELNOR_GUARDED_BY(mutex_) = 0;
  std::unordered_map<std::uint32_t, std::unique_ptr<GatewayQueue>> gateways_ VELNOR_GUARDED_BY(mutex_);
  std::vector<Ticket> starting_ VELNOR_GUARDED_BY(mutex_);  // new queues, their sender bound
  std::deque<Ticket> waiting_ VELNOR_GUARDED_BY(mutex_);    // for a sender, after a pause
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_ VELNOR_GUARDED_BY(mutex_);
  std::uint64_t generations_ VELNOR_GUARDED_BY(mutex_) = 0;
  std::uint64_t tokens_ VELNOR_GUARDED_BY(mutex_) = 0;
  std::size_t parked_ VELNOR_GUARDED_BY(mutex_) = 0;
  static constexpr std::uint64_t kTrimAfterRequests = 10000;
  std::uint64_t handledSinceTrim_ VELNOR_GUARDED_BY(mutex_) = 0;

  platform::Thread thread_;  // last: started when everything above is ready
};
