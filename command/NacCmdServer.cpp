#include "command/NacCmdServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "command/NacCmdProtocol.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/IniFile.h"
#include "platform/Socket.h"
#include "platform/SocketEvent.h"
#include "support/Syslog.h"
#include "support/TextScan.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacCmdServer.",
    "I failed in making of a message thread to use in CNacCmdServer.",
    "CNacCmdServer::~CNacCmdServer: An error occurred in PostThreadMessage."};

constexpr std::size_t kProfileBufferSize = 256;

// The listening socket, closed through the socket layer when the listener ends.
class ListenSocket {
 public:
  ListenSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~ListenSocket() {
    if (fd_ >= 0) platform::CloseSocket(fd_);
  }
  ListenSocket(const ListenSocket&) = delete;
  ListenSocket& operator=(const ListenSocket&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

bool BindAndListen(int fd, std::uint16_t port) {
  if (fd < 0) return false;
  // A restart must not wait for the last run's connections to leave TIME_WAIT; a port held
  // by a live listener still refuses the bind.
  const int reuse = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  if (::listen(fd, SOMAXCONN) != 0) return false;
  int blocking = 0;
  return ::ioctl(fd, FIONBIO, &blocking) == 0;
}

void CloseRefused(int socket) {
  ::shutdown(socket, SHUT_RDWR);
  platform::CloseSocket(socket);
}

bool RemoteAccessOn() {
  std::string value = platform::ReadIniString("SERVICE", "REMOTE", "disable", kProfileBufferSize, "Velnor.ini");
  StrToLower(value.data());
  return value == "enable";
}

bool PeerIsLoopback(int socket) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
  return peer.sin_family == AF_INET && peer.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
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
  stopEvent_->Set();
  listener_.Join();
  stopEvent_.reset();
}

void CNacCmdServer::OnMessage(const platform::ThreadMessage& message) {
  if (message.message == msg::cmd::WM_PROTOCOL_EXIT) {
    DestroySession(static_cast<int>(message.wParam));
  } else if (message.message == msg::cmd::WM_PROTOCOL_RECV) {
    if (!PostMessageMainThread(message.message, message.wParam, message.lParam)) {
      SyslogSend(3, "CNacCmdServer::MsgProc: An error occurred in PostMessageMainThread.");
    }
  }
}

void CNacCmdServer::OnClose() { StopServer(); }

void CNacCmdServer::ThreadProc() {
  // Never signalled: it holds the place the wait set gives it.
  std::optional<platform::Event> idle = platform::Event::Create(platform::EventReset::kManual, false);
  if (!idle) {
    SyslogSend(2, "I failed in making of an event handler.");
    PostToOwner(msg::cmd::WM_SERVER_ERROR);
    PostToOwner(msg::cmd::WM_SERVER_EXIT);
    return;
  }
  {
    ListenSocket listening;
    platform::SocketEvent acceptEvent;
    if (!BindAndListen(listening.Get(), port_) ||
        !acceptEvent.Select(listening.Get(), platform::FD_ACCEPT | platform::FD_CLOSE)) {
      SyslogSend(2, "I failed in bind for command processing.");
      PostToOwner(msg::cmd::WM_SERVER_ERROR);
      PostToOwner(msg::cmd::WM_SERVER_EXIT);
      return;
    }
    acceptEvent.Reset();
    for (;;) {
      const int signalled = platform::WaitForAny({&*stopEvent_, &*idle, &acceptEvent}, std::nullopt);
      if (signalled == 0) break;
      if (signalled == 1) continue;
      if (signalled != 2) {
        PostToOwner(msg::cmd::WM_SERVER_ERROR);
        break;
      }
      const platform::NetworkEvents events = acceptEvent.Enumerate();
      if ((events.events & platform::FD_ACCEPT) != 0) AcceptOne(listening.Get());
      if ((events.events & platform::FD_CLOSE) != 0) break;
    }
  }
  PostToOwner(msg::cmd::WM_SERVER_EXIT);
}

void CNacCmdServer::AcceptOne(int listenSocket) {
  const int socket = platform::SockAccept(listenSocket, nullptr, nullptr);
  if (socket < 0) return;
  // Read at every connection, so that a change applies to the next one.
  if (!RemoteAccessOn() && !PeerIsLoopback(socket)) {
    CloseRefused(socket);
    return;
  }
  // Replies go out in several sends (lines, then the prompt); an operator waiting for
  // the prompt must not wait for the acknowledgement of the lines first.
  const int noDelay = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  if (!CreateProtocol(socket, thread_.Id())) {
    CloseRefused(socket);
    PostToOwner(msg::cmd::WM_SERVER_ERROR);
  }
}

bool CNacCmdServer::CreateProtocol(int socket, std::uint32_t serverThreadId) {
  const int slot = slots_.Reserve();
  if (slot < 0) return false;
  std::unique_ptr<CNacCmdProtocol> session;
  try {
    session = std::make_unique<CNacCmdProtocol>();
    session->SaveThreadID(serverThreadId);
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

void CNacCmdServer::PostToOwner(std::uint32_t message) {
  if (!PostMessageMainThread(message, 0, 0)) {
    SyslogSend(3, "CNacCmdServer::ThreadProc: An error occurred in PostMessageMainThread.");
  }
}
