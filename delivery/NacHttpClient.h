#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>

#include "delivery/DeliveryLoop.h"
#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"
#include "request/HttpData.h"

// The delivery dispatcher: moves prepared requests from the pending request list to the
// delivery loop, where each gateway owed requests has its queue and SENDERS senders serve
// them. A request for a gateway that has no queue and finds no free sender stays pending and
// is tried again 100 ms later, or at the next EventSend.
//
// Threads: the message thread (makes the loop; at its end stops everything) and the event
// thread (EventProc, the dispatching); EventSend and EraseHttpQueue come from the
// controller's threads. Lock order: the pending request list, then the loop's lock.
class CNacHttpClient final : public OwnerThread, private MessageThread::Handler {
 public:
  static constexpr int kSenders = 5;

  // Returns with the senders and the event thread running: as many senders as SENDERS says
  // in Velnor.ini (5 when it says nothing usable), or as given. Throws ThrownText when its
  // event or message thread cannot be made.
  CNacHttpClient();
  explicit CNacHttpClient(int senders);
  ~CNacHttpClient();
  CNacHttpClient(const CNacHttpClient&) = delete;
  CNacHttpClient& operator=(const CNacHttpClient&) = delete;

  // Wakes the dispatching at once; false when the event cannot be set.
  bool EventSend();
  // Drops everything queued with the sender bound to address and frees it.
  void EraseHttpQueue(std::uint32_t address);
  // Places request with its gateway's queue, or makes one with a free sender: 0 (the queue
  // took it) or -1 (the caller keeps it).
  int HttpEventSearchHttpClient(std::unique_ptr<CHttpData>& request);

  // Requests waiting for address (all gateways: none), pending and in the senders' queues.
  std::int32_t Waiting(std::optional<std::uint32_t> address);
  // The same for every gateway with any, by address, from one walk of the pending list.
  std::unordered_map<std::uint32_t, std::int32_t> WaitingEach();

  std::uint32_t ThreadId() const { return thread_.Id(); }
  bool PostQuit() const { return thread_.PostQuit(); }
  void WaitForEnd() { thread_.Join(); }

 private:
  void OnCreate() override;
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;

  void EventProc();
  void HttpDataDispatch();
  void PostToOwner(std::uint32_t message);

  const int senders_;
  // Made by the message thread at its start, ended by it at its end; read by the others only
  // in between.
  std::unique_ptr<DeliveryLoop> loop_;
  std::optional<platform::Event> sendEvent_;
  std::optional<platform::Event> stopEvent_;
  std::atomic<int> endFlag_{0};
  platform::Thread eventThread_;
  MessageThread thread_;  // last: ended before anything above is destroyed
};
