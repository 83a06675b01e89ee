#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "command/AutoSave.h"
#include "command/CommandLineReader.h"
#include "command/PendingWalks.h"
#include "list/NacList.h"
#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/Event.h"
#include "platform/SocketEvent.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"

// One operator connection: sends the prompt, collects lines, runs their commands and
// reports positive results to the command server (its owner) with its slot index.
//
// Threads: a message thread, idle apart from the quit message, and the worker, which alone
// reads the socket, runs the handlers and sends. The first prompt is queued by the
// server's listener before the worker starts. The send queue has its own lock; the socket
// lock only guards the socket's closing against StopProtocol. The idle limit is set before
// StartProtocol and read by the worker alone.
class CNacCmdProtocol final : public OwnerThread, private MessageThread::Handler, private CommandLineReader::Sink {
 public:
  // Throws ThrownText when its event or message thread cannot be made. The changes of its
  // commands are flagged in walks, which outlives the session.
  explicit CNacCmdProtocol(PendingWalks& walks);
  ~CNacCmdProtocol();
  CNacCmdProtocol(const CNacCmdProtocol&) = delete;
  CNacCmdProtocol& operator=(const CNacCmdProtocol&) = delete;

  // Closes the session once it has received nothing, or its output has not moved, for this
  // long (at most 2147483 s, cut to that); 0, the start value, never. Set before StartProtocol.
  void SetIdleLimit(std::uint32_t seconds);

  // Takes over the connection: queues the prompt and starts the worker, which closes the
  // socket when it ends. False when it could not start; the socket is left to the caller.
  [[nodiscard]] bool StartProtocol(platform::UniqueSocket& socket, int slot);
  // Ends the worker and waits for it; a reply stuck on a peer that does not read is cut.
  void StopProtocol();

  std::uint32_t ThreadId() const { return thread_.Id(); }

  // Whether the worker has ended without its exit message reaching the server (the
  // server's queue was full): the server must then free the slot without being told.
  bool ExitLost() const { return exitLost_.load(); }

 private:
  void OnMessage(const platform::ThreadMessage& message) override;
  void OnClose() override;
  [[nodiscard]] bool ExecuteLine(char* line) override;
  // Holds the next line back while the controller's walks lag too far behind; false when
  // the session is stopped meanwhile.
  [[nodiscard]] bool AwaitWalks();

  void ThreadProc();
  // The wait loop of the worker; ends when the session must end.
  void ServeConnection(platform::SocketEvent& socketEvent);
  [[nodiscard]] int NetworkEventProc(platform::SocketEvent& socketEvent);
  // How long the worker may wait before the idle limit is reached: none without a limit,
  // 0 when it is reached.
  std::optional<std::uint32_t> IdleWaitMs() const;
  // The line of a session closed at its idle limit: for input that did not come, or for
  // output that did not move (stalled).
  void LogLimitClose(bool stalled);
  [[nodiscard]] bool SendProc();
  // Before the prompt at the head of the queue: the save of the change it follows, with
  // "save error" when that failed. False when the session must end.
  [[nodiscard]] bool AwaitSave();
  // SendProc until the queue is empty: the prompts of the lines of one read.
  [[nodiscard]] bool SendQueued();
  // Queues a prompt, sent once the ticket's change is saved; wake sets the send event for a
  // worker that would not send it anyway.
  [[nodiscard]] int PromptSend(bool wake, AutoSave::Ticket saveFirst = {});
  // Holds small sends back until the uncork, which sends them together.
  void Cork(bool on);
  void CloseConnection();
  // Posts message with the slot to the server; a failure is logged under method's name.
  [[nodiscard]] bool PostToServer(std::uint32_t message, const char* method);

  PendingWalks& walks_;
  CNacList sendQueue_;
  CommandLineReader reader_;
  std::optional<platform::Event> stopEvent_;
  std::optional<platform::Event> sendEvent_;
  std::optional<platform::Event> goEvent_;  // lets the worker run once StartProtocol is done
  std::mutex socketMutex_;
  platform::UniqueSocket socket_;  // closed under socketMutex_; read freely by the worker, which closes it
  std::uint32_t slot_ = 0;
  std::string origin_;  // "address:port slot n", as the audit trail names the session
  std::uint32_t idleSeconds_ = 0;
  std::uint32_t lastReceiveMs_ = 0;  // worker only: when the last bytes were served
  std::atomic<bool> exitLost_{false};  // set by the worker as its last act
  std::atomic<bool> stopping_{false};  // set by StopProtocol: a wait for a save ends
  platform::Thread worker_;
  MessageThread thread_;  // last: ended before anything above is destroyed
};
