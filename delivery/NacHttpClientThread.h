#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/SocketEvent.h"
#include "platform/Thread.h"
#include "request/HttpData.h"
#include "request/HttpDataList.h"

// One of the dispatcher's five senders. While bound to a gateway (address and port) it
// holds that gateway's queue and delivers it in order over one connection per try: header
// and body, the answer read and logged, the request removed. A failed try is repeated after
// 10, 20 and 30 seconds, and the request dropped after the fourth failure. With its queue
// empty it lets the binding go and is free for any gateway.
//
// Threads: its own (HttpProc), two steps below normal priority; the dispatcher's event
// thread binds it and appends requests; the controller's stop thread erases its queue.
// Lock order: the binding lock, then the queue's lock.
class CNacHttpClientThread final : public OwnerThread {
 public:
  // Throws ThrownText when its events cannot be made.
  CNacHttpClientThread();
  // Stops the thread, then drops what is still queued.
  ~CNacHttpClientThread();
  CNacHttpClientThread(const CNacHttpClientThread&) = delete;
  CNacHttpClientThread& operator=(const CNacHttpClientThread&) = delete;

  // Starts HttpProc as sender number: 0, or -1 when the thread cannot be made.
  int CreateHttpThread(int number);
  // Ends the thread, dropping the queue; a receive under way is cut, a pause between tries
  // ends early.
  void StopHttpThread();

  // The dispatcher's two ways of placing a request. Each takes the request (true) or leaves
  // it with the caller (false, also when the node cannot be made: *failed tells that).
  // Queues it when this sender is bound to the request's address (the port is not compared).
  bool AppendIfBoundTo(std::unique_ptr<CHttpData>& request, bool* failed);
  // Binds a free sender to the request's gateway and queues it.
  bool BindIfFree(std::unique_ptr<CHttpData>& request, bool* failed);
  // Drops the queue and frees the sender when it is bound to address; the port it was
  // bound to, or none.
  std::optional<std::uint16_t> EraseIfBoundTo(std::uint32_t address);
  // The requests queued here for address (0 when bound to another gateway or free).
  std::int32_t QueuedFor(std::uint32_t address);
  // Every request queued here.
  std::int32_t Queued() { return queue_.GetCount(false); }

 private:
  void HttpProc();
  void HttpSend();
  // One connection to the gateway the sender is bound to: 0 when the queue was drained, -1
  // when a step failed or the binding changed under it.
  int HttpClient(std::uint32_t address, std::uint16_t port);
  // Opens the connection to the bound gateway; -1 when it cannot be had.
  int Connect(std::uint32_t address, std::uint16_t port, int socket, platform::SocketEvent& socketEvent);
  // Logs the answer by its status and result word, named after the gateway that gave it.
  void LogAnswer(const std::string& gateway, int status, const std::string& body);
  // A pause between tries for the gateway at address:port, cut short by a stop or when
  // the sender is no longer bound to that gateway.
  void Pause(std::uint32_t ms, std::uint32_t address, std::uint16_t port);
  // "GW(a.b.c.d:port)" of the binding as it is now.
  std::string Gateway();
  static std::string GatewayName(std::uint32_t address, std::uint16_t port);
  bool Bound(std::uint32_t* address, std::uint16_t* port);
  void ResetRetries();

  platform::Mutex bindingMutex_;
  std::uint32_t address_ VELNOR_GUARDED_BY(bindingMutex_) = 0;  // network order; 0: free
  std::uint16_t port_ VELNOR_GUARDED_BY(bindingMutex_) = 0;
  std::int32_t retry_ VELNOR_GUARDED_BY(bindingMutex_) = 0;     // failed tries of the head request
  CHttpDataList queue_;
  std::optional<platform::Event> sendEvent_;
  std::optional<platform::Event> stopEvent_;
  std::optional<platform::Event> endedEvent_;  // set by HttpProc as its last act
  std::atomic<int> endFlag_{0};
  std::int32_t number_ = 0;
  platform::Thread thread_;
};
