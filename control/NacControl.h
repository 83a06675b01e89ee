#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "acl/AclContext.h"
#include "command/CommandId.h"
#include "command/NacCmdServer.h"
#include "delivery/NacHttpClient.h"
#include "insight/MetricsServer.h"
#include "keepalive/NacKeepAlive.h"
#include "list/NacList.h"
#include "msgthread/MessageThread.h"
#include "platform/Event.h"
#include "platform/Thread.h"

// The controller: loads the registries, starts the command server, the delivery
// dispatcher, the keep-alive scheduler and its own two keep-alive worker threads, routes
// the messages of the whole service, and stops everything in a fixed order when its
// thread receives the quit message.
//
// Threads: its message thread (start and stop work, routing, ACL processing of commands),
// the keep-alive start thread and the keep-alive stop thread. The fields below are written
// by the message thread only; the service stop only sets the end flag and posts the quit
// message. The request lists are shared with the keep-alive threads under their own locks.
class CNacControl final : private MessageThread::Handler {
 public:
  // Returns when the start work is done. Throws ThrownText when its event or thread cannot
  // be made. The end flag may be the caller's, so that a stop demanded while the start work
  // runs (a long load) ends it early; without one the controller has its own.
  CNacControl();
  explicit CNacControl(std::atomic<int>& endFlag);
  ~CNacControl();
  CNacControl(const CNacControl&) = delete;
  CNacControl& operator=(const CNacControl&) = delete;

  uint32_t ThreadId() const { return thread_.Id(); }
  // Waits without time-out for the controller's thread to end.
  void WaitForEnd() { thread_.Join(); }

  // Set once by the service stop; every long walk ends early once it is set.
  void SetEndFlag() { endFlag_.store(1, std::memory_order_relaxed); }
  bool EndFlag() const { return endFlag_.load(std::memory_order_relaxed) != 0; }

  // What the process should end with once the controller has ended: 0, or non-zero when
  // it stopped itself because its console could not start (kExitBadSetting when that was
  // a wrong PORT, so that systemd reports a configuration error rather than a clean end).
  static constexpr int kExitBadSetting = 78;
  int ExitStatus() const { return exitStatus_.load(); }

 private:
  // One of the two keep-alive worker threads with its request list and events.
  struct KeepAliveWorker {
    platform::Thread thread;
    CNacList requests;
    std::optional<platform::Event> requestEvent;
    std::optional<platform::Event> endEvent;
  };

  void OnCreate() override;
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;

  // Removes what killed saves left behind, then reads the registry files and the port.
  void LoadRegistries();
  // What the files held is not new.
  void ClearAddedFlags();
  // Makes the command server and starts it on the loaded port; a server that cannot
  // start stops the controller.
  void StartCommandServer();
  // Makes the delivery dispatcher with its senders; a sender count out of range stops the
  // service right after start, as a wrong port does.
  // Posts the quit message to this thread: the service stops once its start is done.
  void StopRightAfterStart();
  void StartHttpClient();
  // Opens the metrics port when one is set.
  void StartMetrics();
  // Makes the keep-alive scheduler (with its probers) and starts its scans.
  void StartKeepAliveScheduler();
  // A gateway came ON or went OFF: its request for the start or stop thread.
  void QueueKeepAliveRequest(KeepAliveWorker& worker, std::uint32_t address, const char* logFormat);
  // Sessions flagged changes (the message names one command id and its result): the rules
  // of every change flagged by now.
  void NacCommandProcess(CommandId commandId, std::int32_t result);
  // What the rule walks need: the end flag and the dispatcher. The dispatcher outlives
  // every walk: the threads that run them end before it in the stop.
  AclContext Context() const;

  void StartKeepAliveWorker(KeepAliveWorker& worker, const char* name, void (CNacControl::*body)());
  void StopKeepAliveWorker(KeepAliveWorker& worker, const char* name);
  void KeepAliveStartProc();
  void KeepAliveStopProc();
  // The wait loop both keep-alive threads share; process runs on every wake and time-out.
  void KeepAliveLoop(KeepAliveWorker& worker, void (CNacControl::*process)());
  void KeepAliveStartProcess();
  void KeepAliveStopProcess();

  std::atomic<int> ownEndFlag_{0};
  std::atomic<int>& endFlag_;
  std::atomic<int> exitStatus_{0};
  std::size_t walkedSinceTrim_ = 0;  // message thread only
  KeepAliveWorker start_;
  KeepAliveWorker stop_;
  std::unique_ptr<CNacCmdServer> commandServer_;
  std::unique_ptr<CNacHttpClient> httpClient_;
  std::unique_ptr<MetricsServer> metrics_;  // only with [METRICS] PORT set
  std::unique_ptr<CNacKeepAlive> keepAlive_;
  MessageThread thread_;  // last: stopped before anything above is destroyed
};
