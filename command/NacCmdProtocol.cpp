#include "command/NacCmdProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "command/CommandDispatch.h"
#include "command/CommandReply.h"
#include "support/Settings.h"
#include "command/NacCmdProtocolData.h"
#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "support/Metrics.h"
#include "support/SocketIo.h"
#include "support/Syslog.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacCmdProtocol.",
    "I failed in making of a message thread to use in CNacCmdProtocol.", nullptr};

constexpr char kPrompt[] = "$ ";
// How often a session held back by the walks looks again.
constexpr std::uint32_t kWalkRecheckMs = 20;
constexpr std::uint32_t kWalkAnnounceEvery = 1000 / kWalkRecheckMs;

// The idle limit is measured on the real clock, as the wait that ends at it runs there.
std::uint32_t NowMs() { return platform::RealClock().NowMs(); }

}  // namespace

// No pause after the start confirmation: the listener makes one session per connection and
// would pay it for each, while a burst of connections keeps every operator waiting.
CNacCmdProtocol::CNacCmdProtocol(PendingWalks& walks)
    : walks_(walks), thread_(*this, kTexts, MessageThread::StartPause::kNone) {}

CNacCmdProtocol::~CNacCmdProtocol() {
  if (thread_.Running()) {
    // Nothing but this is ever posted to a session's thread, so the post fails only when
    // the thread has already ended, and the join returns at once.
    (void)thread_.PostQuit();
    thread_.Join();
  }
  StopProtocol();
}

void CNacCmdProtocol::OnMessage(const platform::ThreadMessage& /*message*/) {
  // Nothing is posted to a session but the quit message.
}

void CNacCmdProtocol::OnClose() { StopProtocol(); }

namespace {

// The operator's address ("?" when it cannot be told) and port.
std::pair<std::string, unsigned> PeerOf(int socket) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  char address[INET_ADDRSTRLEN] = "";
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET ||
      ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address) == nullptr) {
    return {"?", 0};
  }
  return {address, ntohs(peer.sin_port)};
}

}  // namespace

bool CNacCmdProtocol::StartProtocol(platform::UniqueSocket& socket, int slot) {
  slot_ = static_cast<std::uint32_t>(slot);
  sendEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  stopEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  goEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!sendEvent_ || !stopEvent_ || !goEvent_ || PromptSend(true) != 0) return false;
  const auto [address, port] = PeerOf(socket.Get());
  origin_ = address + ":" + std::to_string(port) + " slot " + std::to_string(slot);
  socket_ = std::move(socket);
  try {
    worker_ = platform::Thread([this] { ThreadProc(); });
  } catch (const std::system_error&) {
    socket = std::move(socket_);
    return false;
  }
  // From here on the worker may end the session and the server destroy it at any time.
  goEvent_->Signal();
  return true;
}

void CNacCmdProtocol::StopProtocol() {
  if (!worker_.Joinable()) return;
  {
    std::lock_guard lock(socketMutex_);
    if (socket_) ::shutdown(socket_.Get(), SHUT_RDWR);
  }
  stopping_.store(true);
  GetAutoSave().Wake();
  stopEvent_->Signal();
  worker_.Join();
}

void CNacCmdProtocol::ThreadProc() {
  // Counted for the metrics while the worker serves the connection.
  GetMetrics().consoleSessions.fetch_add(1);
  struct Ended {
    ~Ended() { GetMetrics().consoleSessions.fetch_sub(1); }
  } ended;
  if (platform::WaitForOne(*goEvent_, std::nullopt) != 0) {
    SyslogSend(3, "CNacCmdProtocol::ThreadProc: An error occurred in WaitForSingleObject.");
  }
  {
    platform::SocketEvent socketEvent;
    if (socketEvent.Select(socket_.Get(), platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE)) {
      socketEvent.Reset();
      // Output that cannot move counts against the same limit as input that does not come:
      // a reader that never reads would otherwise hold the slot and its reply for ever.
      const SendStallLimit stallLimit(idleSeconds_ * 1000);
      ServeConnection(socketEvent);
      if (SocketSendStalled()) LogLimitClose(true);
    }
  }
  CloseConnection();
  // The server frees the slot when this arrives. Should it not arrive, the slot is taken
  // back by the listener before it hands out the next one.
  if (!PostToServer(msg::cmd::WM_PROTOCOL_EXIT, "ThreadProc")) exitLost_.store(true);
}

void CNacCmdProtocol::ServeConnection(platform::SocketEvent& socketEvent) {
  lastReceiveMs_ = NowMs();
  for (;;) {
    switch (platform::WaitForAny({&*stopEvent_, &socketEvent, &*sendEvent_}, IdleWaitMs())) {
      case platform::kWaitTimeout:
        if (IdleWaitMs() == 0u) {
          LogLimitClose(false);
          return;
        }
        break;
      case 0:
        return;
      case 1:
        if (NetworkEventProc(socketEvent) < 0) return;
        break;
      case 2:
        // The wait has taken it already (auto-reset); on a live event this cannot fail.
        (void)sendEvent_->Reset();
        if (!SendProc()) return;
        break;
      default:
        return;
    }
  }
}

int CNacCmdProtocol::NetworkEventProc(platform::SocketEvent& socketEvent) {
  const platform::NetworkEvents events = socketEvent.Enumerate();
  if (events.events == 0) return 0;
  if ((events.events & platform::FD_READ) != 0) {
    // The replies of the lines and the prompts after them leave together, behind what was
    // queued before: the first prompt, for an operator who typed before it came.
    Cork(true);
    const bool served = SendQueued() && reader_.RecvProc(socket_.Get(), *this) && SendQueued();
    Cork(false);
    if (!served) return -1;
    // Counted from the end of the replies: a long command is not idle time.
    lastReceiveMs_ = NowMs();
  }
  if ((events.events & platform::FD_WRITE) != 0 && !SendProc()) return -1;
  if ((events.events & platform::FD_CLOSE) != 0) return -1;
  return 0;
}

void CNacCmdProtocol::SetIdleLimit(std::uint32_t seconds) {
  idleSeconds_ = std::min(seconds, settings::IdleLimitSetting::kMaxIdleSeconds);
}

std::optional<std::uint32_t> CNacCmdProtocol::IdleWaitMs() const {
  if (idleSeconds_ == 0) return std::nullopt;
  const std::uint32_t limitMs = idleSeconds_ * 1000;
  const std::uint32_t elapsedMs = NowMs() - lastReceiveMs_;
  return elapsedMs >= limitMs ? 0 : limitMs - elapsedMs;
}

void CNacCmdProtocol::LogLimitClose(bool stalled) {
  const std::string peer = PeerOf(socket_.Get()).first;
  const char* address = peer.c_str();
  const int seconds = static_cast<int>(idleSeconds_);
  if (stalled) {
    SyslogSend(6, "I closed a command session of %s whose output did not move for %d seconds.", address, seconds);
  } else {
    SyslogSend(6, "I closed an idle command session of %s after %d seconds.", address, seconds);
  }
}

bool CNacCmdProtocol::ExecuteLine(char* line) {
  std::optional<CommandId> changed;
  if (!AwaitWalks() || !CommandProc(socket_.Get(), line, *this, walks_, &origin_, &changed)) return false;
  // The worker sends this prompt itself once the waiting bytes are read: no wake needed.
  return PromptSend(false, GetAutoSave().Note(changed)) == 0;
}

bool CNacCmdProtocol::AwaitWalks() {
  // The socket is not read meanwhile, so TCP holds the sender; the stop is seen at once.
  for (std::uint32_t waited = 0; walks_.Full(); ++waited) {
    // A walk message lost on the way is posted again, once a second.
    if (waited % kWalkAnnounceEvery == 0) AnnounceWalks(*this, walks_);
    switch (platform::WaitForOne(*stopEvent_, kWalkRecheckMs)) {
      case platform::kWaitTimeout:
        break;
      default:
        return false;
    }
  }
  return true;
}

bool CNacCmdProtocol::SendProc() {
  if (!AwaitSave()) return false;
  CNacList::Guard guard(sendQueue_);
  CNacNode* head = sendQueue_.GetHead(guard);
  if (head == nullptr) return true;
  auto* block = static_cast<CNacCmdProtocolData*>(head->Record());
  if (SocketSendAll(socket_.Get(), block->Buffer(), static_cast<int>(block->length)) < 0) return false;
  sendQueue_.RemoveHead(guard);
  // One block per call; the event brings the worker back for the next one, so that
  // prompts queued by several lines of one packet all go out, and no sooner.
  if (!sendQueue_.IsEmpty(guard)) sendEvent_->Signal();
  return true;
}

bool CNacCmdProtocol::AwaitSave() {
  AutoSave::Ticket ticket;
  {
    // The worker alone takes blocks off the queue: the head stays while the guard is away.
    CNacList::Guard guard(sendQueue_);
    CNacNode* head = sendQueue_.GetHead(guard);
    if (head == nullptr) return true;
    ticket = std::exchange(static_cast<CNacCmdProtocolData*>(head->Record())->saveFirst, AutoSave::Ticket{});
  }
  if (!ticket) return true;
  switch (GetAutoSave().Ensure(ticket, stopping_)) {
    case AutoSave::Outcome::kSaved:
      return true;
    case AutoSave::Outcome::kFailed:
      return SendReply(socket_.Get(), "save error\r\n") == 0;
    case AutoSave::Outcome::kStopped:
      break;
  }
  return false;
}

bool CNacCmdProtocol::SendQueued() {
  for (;;) {
    {
      CNacList::Guard guard(sendQueue_);
      if (sendQueue_.IsEmpty(guard)) return true;
    }
    if (!SendProc()) return false;
  }
}

int CNacCmdProtocol::PromptSend(bool wake, AutoSave::Ticket saveFirst) {
  CNacCmdProtocolData* block = nullptr;
  try {
    block = new CNacCmdProtocolData();
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "I failed in making of CNacCmdProtocolData.");
    return -1;
  }
  if (!block->Allocate()) {
    delete block;
    return -1;
  }
  std::memcpy(block->Buffer(), kPrompt, sizeof kPrompt - 1);
  block->length = sizeof kPrompt - 1;
  block->saveFirst = saveFirst;
  try {
    sendQueue_.AddTail(block, false);
  } catch (...) {
    delete block;
    return -1;
  }
  if (wake) sendEvent_->Signal();
  return 0;
}

void CNacCmdProtocol::Cork(bool on) {
  const int value = on ? 1 : 0;
  ::setsockopt(socket_.Get(), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

void CNacCmdProtocol::CloseConnection() {
  std::lock_guard lock(socketMutex_);
  ::shutdown(socket_.Get(), SHUT_RDWR);
  socket_.Reset();
}

bool CNacCmdProtocol::PostToServer(std::uint32_t message, const char* method) {
  if (PostMessageMainThread(message, slot_, 0)) return true;
  SyslogSend(3, "CNacCmdProtocol::%s: An error occurred in PostMessageMainThread.", method);
  return false;
}
