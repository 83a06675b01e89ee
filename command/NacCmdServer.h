#pragma once

#include <cstdint>
#include <optional>

#include "command/PendingWalks.h"
#include "command/SessionSlots.h"
#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"
#include "support/Settings.h"

// The operator console's listener: accepts connections on the command port, admits
// loopback peers (any peer once REMOTE is enable in Velnor.ini) and gives each admitted
// connection, with keep-alive probes and the IDLE limit of Velnor.ini, to a session in one
// of ten slots. Command results of the sessions go on to
// the owner, the controller.
//
// Threads: the message thread (frees the slots of ended sessions, forwards results) and
// the listener thread (accepts, fills slots). Only the owner thread id and the slot table
// are shared, each under its own lock.
class CNacCmdServer final : public OwnerThread, private MessageThread::Handler {
 public:
  // Throws ThrownText when its event or message thread cannot be made.
  CNacCmdServer();
  // Ends every session, then the message thread and the listener.
  ~CNacCmdServer();
  CNacCmdServer(const CNacCmdServer&) = delete;
  CNacCmdServer& operator=(const CNacCmdServer&) = delete;

  // Starts the listener on port (host order). False for port 0 or when the listener
  // thread cannot be started; a port that cannot be bound is logged by the listener, which
  // then tries it again every 5 s until it is bound or the server is stopped. A connection
  // that finds no descriptor free waits in the backlog, tried again every 250 ms.
  [[nodiscard]] bool StartServer(std::uint16_t port);
  // Ends the listener and waits for it.
  void StopServer();

  std::uint32_t ThreadId() const { return thread_.Id(); }
  // The owner's stop: the quit message, then the wait for the message thread's end.
  [[nodiscard]] bool PostQuit() const { return thread_.PostQuit(); }
  void WaitForEnd() { thread_.Join(); }

  // The changes the sessions made that wait for the owner's walks; the owner takes them
  // when "VELNORCMD:WM_PROTOCOL_RECV" arrives.
  PendingWalks& Walks() { return walks_; }

 private:
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;

  void ThreadProc();
  enum class AcceptResult { kAccepted, kNone, kNoDescriptor };
  // Accepts one waiting connection and gives it a session, or closes it.
  AcceptResult AcceptOne(int listenSocket);
  // Gives the connection to a session in a free slot; false, with the socket left to the
  // caller, when there is none or it cannot start.
  [[nodiscard]] bool CreateProtocol(platform::UniqueSocket& socket, std::uint32_t serverThreadId, std::uint32_t idleSeconds);
  void DestroySession(int slot);
  // Frees the slots of the sessions that ended without their exit message reaching the
  // message thread (its queue was full): the listener does it before it takes a slot.
  void ReclaimLostSlots();

  std::uint16_t port_ = 0;
  std::optional<platform::Event> stopEvent_;
  platform::Thread listener_;
  settings::IdleLimitSetting idleLimit_;  // listener only
  PendingWalks walks_;  // before the slots: outlives every session
  SessionSlots slots_;
  MessageThread thread_;  // last: ended before anything above is destroyed
};
