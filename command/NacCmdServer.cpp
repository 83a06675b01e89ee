#include "command/NacCmdServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "command/NacCmdProtocol.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/Socket.h"
#include "platform/SocketEvent.h"
#include "platform/TcpListener.h"
#include "support/AdminReport.h"
#include "support/Syslog.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacCmdServer.",
    "I failed in making of a message thread to use in CNacCmdServer.",
    "CNacCmdServer::~CNacCmdServer: An error occurred in PostThreadMessage."};

// A port held by another program, or by the previous instance still closing, is tried
// again this often until it is free.
constexpr std::uint32_t kBindRetryMs = 5000;

// Keep-alive probes on every session: a peer that vanished without closing (a laptop gone
// to sleep, a dropped VPN) is found after 60 s of silence and 6 unanswered probes 10 s
// apart, and its slot is freed.
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;

// When every descriptor is taken, the waiting connection stays readable: the listener
// pauses this long between tries rather than spin on it, and keeps its stop event heard.
constexpr std::uint32_t kNoDescriptorPauseMs = 250;

// The listening socket on port, with FD_ACCEPT and FD_CLOSE selected on acceptEvent;
// invalid, with nothing left open, when a step fails.
platform::UniqueSocket OpenListener(std::uint16_t port, platform::SocketEvent& acceptEvent) {
  platform::UniqueSocket listening = platform::ListenTcp({.port = port});
  if (listening && !acceptEvent.Select(listening.Get(), platform::FD_ACCEPT | platform::FD_CLOSE)) listening.Reset();
  return listening;
}

enum class BindRetry { kBound, kStopped, kWaitFailed };

// Tries the bind again every kBindRetryMs until it succeeds; the stop event ends the wait
// at once.
BindRetry RetryBind(platform::Event& stopEvent, std::uint16_t port, platform::UniqueSocket& listening,
                    platform::SocketEvent& acceptEvent) {
  for (;;) {
    const int signalled = platform::WaitForOne(stopEvent, kBindRetryMs);
    if (signalled == 0) return BindRetry::kStopped;
    if (signalled != platform::kWaitTimeout) return BindRetry::kWaitFailed;
    listening = OpenListener(port, acceptEvent);
    if (listening) return BindRetry::kBound;
  }
}

void CloseRefused(platform::UniqueSocket socket) { ::shutdown(socket.Get(), SHUT_RDWR); }

void SetSessionOptions(int socket) {
  // Replies go out in several sends (lines, then the prompt); an operator waiting for
  // the prompt must not wait for the acknowledgement of the lines first.
  const int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof kKeepAliveIdleSeconds);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds, sizeof kKeepAliveIntervalSeconds);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
}

}  // namespace

CNacCmdServer::CNacCmdServer() : thread_(*this, kTexts) {}

CNacCmdServer::~CNacCmdServer() {
  // The listener goes first (the message thread's close stops it), so that no session is
  // made while the others are ended.
  if (thread_.Running()) {
    if (!thread_.PostQuit()) SyslogSend(3, "%s", kTexts.destructor);
    thread_.Join();
  }
  StopServer();
  for (int slot = 0; slot < SessionSlots::kCount; ++slot) DestroySession(slot);
}

bool CNacCmdServer::StartServer(std::uint16_t port) {
  if (port == 0) return false;
  port_ = port;
  stopEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!stopEvent_) return false;
  try {
    listener_ = platform::Thread([this] { ThreadProc(); });
  } catch (const std::system_error&) {
    stopEvent_.reset();
    return false;
  }
  return true;
}

void CNacCmdServer::StopServer() {
  if (!listener_.Joinable()) return;
  stopEvent_->Signal();
  listener_.Join();
  stopEvent_.reset();
}

void CNacCmdServer::OnMessage(const platform::ThreadMessage& message) {
  if (message.message == msg::cmd::WM_PROTOCOL_EXIT) {
    DestroySession(static_cast<int>(message.wParam));
  } else if (message.message == msg::cmd::WM_PROTOCOL_RECV) {
    if (!PostMessageMainThread(message.message, message.wParam, message.lParam)) {
      // The changes stay flagged: the next one, or a session held back by them, posts again.
      walks_.PostFailed();
      SyslogSend(3, "CNacCmdServer::MsgProc: An error occurred in PostMessageMainThread.");
    }
  }
}

void CNacCmdServer::OnClose() { StopServer(); }

void CNacCmdServer::ThreadProc() {
  {
    platform::SocketEvent acceptEvent;
    platform::UniqueSocket listening = OpenListener(port_, acceptEvent);
    if (!listening) {
      SyslogSend(2, "I failed in bind for command processing.");
      // Without a console the service could only be stopped: the listener waits for the
      // port instead, quietly.
      switch (RetryBind(*stopEvent_, port_, listening, acceptEvent)) {
        case BindRetry::kBound:
          break;
        case BindRetry::kStopped:
        case BindRetry::kWaitFailed:
          return;
      }
      SyslogSend(6, "I succeeded in bind for command processing on port %u.", static_cast<unsigned>(port_));
    }
    acceptEvent.Reset();
    bool starved = false;  // the last accept found no descriptor free
    for (;;) {
      const int signalled = platform::WaitForAny({&*stopEvent_, &acceptEvent}, std::nullopt);
      if (signalled != 1) break;
      const platform::NetworkEvents events = acceptEvent.Enumerate();
      if ((events.events & platform::FD_ACCEPT) != 0) {
        const AcceptResult result = AcceptOne(listening.Get());
        if (result == AcceptResult::kNoDescriptor) {
          if (!starved) ReportFailure(3, "I could not accept a command connection: no descriptor is free.");
          starved = true;
          if (platform::WaitForOne(*stopEvent_, kNoDescriptorPauseMs) != platform::kWaitTimeout) break;
        } else if (result == AcceptResult::kAccepted && starved) {
          starved = false;
          SyslogSend(6, "I can accept command connections again.");
        }
      }
      if ((events.events & platform::FD_CLOSE) != 0) break;
    }
  }
}

CNacCmdServer::AcceptResult CNacCmdServer::AcceptOne(int listenSocket) {
  platform::UniqueSocket socket(platform::SockAccept(listenSocket, nullptr, nullptr));
  if (!socket) return errno == EMFILE || errno == ENFILE ? AcceptResult::kNoDescriptor : AcceptResult::kNone;
  // Read at every connection, so that a change applies to the next one.
  if (!settings::RemoteAccessOn() && !platform::PeerIsLoopback(socket.Get())) {
    CloseRefused(std::move(socket));
    return AcceptResult::kAccepted;
  }
  SetSessionOptions(socket.Get());
  if (!CreateProtocol(socket, thread_.Id(), idleLimit_.Read())) CloseRefused(std::move(socket));
  return AcceptResult::kAccepted;
}

bool CNacCmdServer::CreateProtocol(platform::UniqueSocket& socket, std::uint32_t serverThreadId, std::uint32_t idleSeconds) {
  ReclaimLostSlots();
  const int slot = slots_.Reserve();
  if (slot < 0) return false;
  std::unique_ptr<CNacCmdProtocol> session;
  try {
    session = std::make_unique<CNacCmdProtocol>(walks_);
    session->SaveThreadID(serverThreadId);
    session->SetIdleLimit(idleSeconds);
  } catch (...) {
    SyslogSend(2, "I failed in making of CNacCmdProtocol.");
    slots_.Release(slot);
    return false;
  }
  CNacCmdProtocol* started = session.get();
  slots_.Fill(slot, std::move(session));
  if (started->StartProtocol(socket, slot)) return true;
  DestroySession(slot);
  return false;
}

void CNacCmdServer::DestroySession(int slot) {
  std::unique_ptr<CNacCmdProtocol> session = slots_.Take(slot);
  if (!session) return;
  session.reset();
  slots_.Release(slot);
}

void CNacCmdServer::ReclaimLostSlots() {
  for (int slot = 0; slot < SessionSlots::kCount; ++slot) {
    std::unique_ptr<CNacCmdProtocol> session = slots_.TakeExitLost(slot);
    if (!session) continue;
    session.reset();
    slots_.Release(slot);
  }
}
