#include "delivery/NacHttpClientThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>

#include "delivery/AnswerReader.h"
#include "delivery/GatewayLedger.h"
#include "delivery/SocketReceiver.h"
#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/SocketEvent.h"
#include "support/Metrics.h"
#include "support/SocketIo.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr std::uint32_t kWaitMs = 100;
// Linux would try a silent gateway's SYN for over two minutes; a router that has not
// answered in 3 s is treated as down, and the try is repeated on schedule.
constexpr std::uint32_t kConnectMs = 3000;
constexpr std::int32_t kLastTry = 3;
constexpr std::uint32_t kPauseMs[] = {10000, 20000, 30000, 30000};
constexpr std::uint32_t kPauseStepMs = 100;
constexpr std::uint32_t kStopWaitMs = 10000;
constexpr char kProcPostFailure[] = "CNacHttpClientThread::HttpProc: An error occurred in PostMessageMainThread.";

// A connection's socket, closed through the socket layer, which ends its selection. While a
// request on it is unanswered it is reset rather than closed: the kernel would go on sending
// what the gateway has not taken yet, and after a network outage the gateway would get a
// request the sender has since tried again, or one that later requests undid.
class ConnectionSocket {
 public:
  ConnectionSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) {}
  ~ConnectionSocket() {
    if (fd_ < 0) return;
    if (awaiting_) {
      const linger reset{1, 0};
      (void)::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    (void)platform::CloseSocket(fd_);  // released whatever close reports
  }
  ConnectionSocket(const ConnectionSocket&) = delete;
  ConnectionSocket& operator=(const ConnectionSocket&) = delete;
  int Get() const { return fd_; }
  void Awaiting(bool awaiting) { awaiting_ = awaiting; }

 private:
  int fd_;
  bool awaiting_ = false;
};

bool StartsWith(const std::string& text, const char* word) { return text.rfind(word, 0) == 0; }

// Which result word an answer carries, for the metrics.
Metrics::Answer AnswerKind(int status, const std::string& body) {
  if (status != 200) return Metrics::kHttpError;
  static constexpr struct {
    const char* word;
    Metrics::Answer kind;
  } kWords[] = {{"ok", Metrics::kOk},
                {"no list", Metrics::kNoList},
                {"invalid version", Metrics::kInvalidVersion},
                {"invalid acl", Metrics::kInvalidAcl},
                {"invalid opcode", Metrics::kInvalidOpcode},
                {"invalid count", Metrics::kInvalidCount},
                {"invalid ACL format", Metrics::kInvalidAclFormat}};
  for (const auto& word : kWords) {
    if (StartsWith(body, word.word)) return word.kind;
  }
  return Metrics::kOtherWord;
}

}  // namespace

CNacHttpClientThread::CNacHttpClientThread()
    : sendEvent_(platform::Event::Create(platform::EventReset::kAuto, false)),
      stopEvent_(platform::Event::Create(platform::EventReset::kAuto, false)),
      endedEvent_(platform::Event::Create(platform::EventReset::kManual, false)) {
  if (!sendEvent_ || !stopEvent_ || !endedEvent_) {
    throw ThrownText("I failed in making of an event handler for start confirmation to use in CNacHttpClientThread.");
  }
}

// A sender stopped before is stopped again, and says so again: the stop lines of a sender
// come twice at the service's end, the second time with the binding already cleared.
CNacHttpClientThread::~CNacHttpClientThread() { StopHttpThread(); }

int CNacHttpClientThread::CreateHttpThread(int number) {
  number_ = number;
  try {
    thread_ = platform::Thread([this] { HttpProc(); });
  } catch (const std::system_error&) {
    return -1;
  }
  if (!platform::SetThreadPriority(thread_.Id(), -2)) {
    SyslogSend(4, "CNacHttpClientThread::CreateHttpThread: I failed in setting of thread priority.");
  }
  return 0;
}

void CNacHttpClientThread::StopHttpThread() {
  SyslogSend(7, "I delete a queue of an HTTP client thread. No %d. %s.", number_, Gateway().c_str());
  endFlag_.store(1);
  {
    platform::MutexLock lock(bindingMutex_);
    address_ = 0;
    port_ = 0;
    retry_ = 0;
    queue_.RemoveAll(false);
  }
  SyslogSend(7, "I started end processing of an HTTP client thread.");
  if (thread_.Joinable()) {
    stopEvent_->Signal();
    while (platform::WaitForOne(*endedEvent_, kStopWaitMs) == platform::kWaitTimeout) {
      SyslogSend(7, "I timeout end processing of an HTTP client thread.");
      stopEvent_->Signal();
    }
    thread_.Join();
  }
  SyslogSend(7, "End processing of an HTTP client thread was finished.");
}

bool CNacHttpClientThread::AppendIfBoundTo(std::unique_ptr<CHttpData>& request, bool* failed) {
  platform::MutexLock lock(bindingMutex_);
  if (address_ == 0 || address_ != request->address) return false;
  try {
    queue_.AddTail(request.get(), false);
  } catch (const ThrownText&) {
    *failed = true;
    return false;
  }
  request.release();
  sendEvent_->Signal();
  return true;
}

bool CNacHttpClientThread::BindIfFree(std::unique_ptr<CHttpData>& request, bool* failed) {
  platform::MutexLock lock(bindingMutex_);
  if (address_ != 0) return false;
  const std::uint32_t address = request->address;
  const std::uint16_t port = request->port;
  try {
    queue_.AddTail(request.get(), false);
  } catch (const ThrownText&) {
    *failed = true;
    return false;
  }
  request.release();
  address_ = address;
  port_ = port;
  sendEvent_->Signal();
  return true;
}

std::optional<std::uint16_t> CNacHttpClientThread::EraseIfBoundTo(std::uint32_t address) {
  platform::MutexLock lock(bindingMutex_);
  if (address_ == 0 || address_ != address) return std::nullopt;
  // A request being sent right now is finished or abandoned by the sender; it is no
  // longer in the queue, so nothing of it is sent again.
  queue_.RemoveAll(false);
  const std::uint16_t port = port_;
  address_ = 0;
  port_ = 0;
  retry_ = 0;
  return port;
}

std::int32_t CNacHttpClientThread::QueuedFor(std::uint32_t address) {
  platform::MutexLock lock(bindingMutex_);
  return address_ != 0 && address_ == address ? queue_.GetCount(false) : 0;
}

void CNacHttpClientThread::HttpProc() {
  while (endFlag_.load() == 0) {
    const int signalled = platform::WaitForAny({&*sendEvent_, &*stopEvent_}, kWaitMs);
    if (signalled == platform::kWaitTimeout || signalled == 0) {
      try {
        HttpSend();
      } catch (const std::exception&) {
        // Memory ran out mid-walk: the queue stays bound and is walked again at the next wake.
        SyslogSend(2, "Abnormality occurred in HttpSend.");
      }
      continue;
    }
    if (signalled != 1 && !PostMessageMainThread(msg::httpclient::WM_THREAD_ERROR, 0, 0)) {
      SyslogSend(3, "%s", kProcPostFailure);
    }
    break;
  }
  if (!PostMessageMainThread(msg::httpclient::WM_THREAD_EXIT, static_cast<std::uint32_t>(number_), 0)) {
    SyslogSend(3, "%s", kProcPostFailure);
  }
  endedEvent_->Signal();
}

void CNacHttpClientThread::HttpSend() {
  while (endFlag_.load() == 0) {
    ResetRetries();
    for (;;) {
      std::int32_t retry = 0;
      std::uint32_t address = 0;
      std::uint16_t port = 0;
      {
        // Checked and released together: the dispatcher appends only to a bound sender.
        platform::MutexLock lock(bindingMutex_);
        if (queue_.IsEmpty(false)) {
          address_ = 0;
          port_ = 0;
          retry_ = 0;
          return;
        }
        retry = retry_;
        address = address_;
        port = port_;
      }
      if (retry > kLastTry) break;  // the next request starts with a fresh count
      if (HttpClient(address, port) == 0) {
        SyslogSend(6, "ACL setting was completed in %s.", GatewayName(address, port).c_str());
        break;
      }
      // An erased queue owes no retry, whether the sender is free now or already serves the
      // next gateway: that one starts afresh.
      std::uint32_t boundAddress = 0;
      std::uint16_t boundPort = 0;
      if (endFlag_.load() != 0 || !Bound(&boundAddress, &boundPort) || boundAddress != address || boundPort != port) {
        break;
      }
      Count(GetMetrics().triesFailed);
      GetGatewayLedger().TryFailed(address, port);
      {
        platform::MutexLock lock(bindingMutex_);
        retry = retry_;
      }
      SyslogSend(7, "The remainder re-try number of times for ACL setting for %s is a %d time.", Gateway().c_str(),
                 kLastTry - retry);
      if (retry == kLastTry) {
        std::unique_ptr<CNacNode> dropped;
        {
          // Only this gateway's request: an erase may have given the sender another since.
          platform::MutexLock lock(bindingMutex_);
          if (address_ != address || port_ != port) break;
          dropped = queue_.UnlinkHead(false);
        }
        if (dropped) {
          SyslogSend(4, "I failed in setting of quarantine inspection information for %s.",
                     GatewayName(address, port).c_str());
          Count(GetMetrics().requestsDropped);
          GetGatewayLedger().Dropped(address, port);
        }
        if (!queue_.IsEmpty(false)) Pause(kPauseMs[retry], address, port);
      } else {
        Pause(kPauseMs[std::max(retry, 0)], address, port);
      }
      platform::MutexLock lock(bindingMutex_);
      if (address_ != address || port_ != port) break;  // erased while pausing: the next gateway starts afresh
      ++retry_;
    }
  }
}

int CNacHttpClientThread::HttpClient(std::uint32_t address, std::uint16_t port) {
  if (address == 0) return -1;
  const std::string gateway = GatewayName(address, port);
  ConnectionSocket socket;
  platform::SocketEvent socketEvent;
  if (Connect(address, port, socket.Get(), socketEvent) != 0) {
    if (endFlag_.load() != 0) return -1;
    SyslogSend(7, "Connection error to %s.", gateway.c_str());
    // A note to the owner after a connection error; losing it goes unlogged.
    (void)PostMessageMainThread(msg::httpclient::WM_THREAD_ERROR, static_cast<std::uint32_t>(number_), 0);
    return -1;
  }
  SocketReceiver receiver(socket.Get(), socketEvent, *stopEvent_, endFlag_);
  while (endFlag_.load() == 0) {
    CHttpData request;
    {
      // The queue is this connection's only while the binding is: once erased, the sender
      // may already hold the next gateway's requests, which must not go to this one.
      platform::MutexLock binding(bindingMutex_);
      if (address_ != address || port_ != port) return -1;
      CNacList::Guard guard(queue_);
      CNacNode* head = queue_.GetHead(guard);
      if (head == nullptr) return 0;
      request.Assign(*head->RecordAs<CHttpData>());
    }
    socket.Awaiting(true);
    if (SocketSendAll(socket.Get(), request.header.data(), static_cast<int>(request.header.size())) < 0) {
      SyslogSend(7, "An error occurred at the time of the HTTP header transmission of a message.");
      return -1;
    }
    SyslogSend(7, "HTTP header is %s", request.header.c_str());
    if (SocketSendAll(socket.Get(), request.body.data(), static_cast<int>(request.body.size())) < 0) {
      SyslogSend(7, "An error occurred at the time of the HTTP body transmission of a message.");
      return -1;
    }
    SyslogSend(7, "HTTP body is %s", request.body.c_str());
    Count(GetMetrics().requestsSent);
    GatewayAnswer answer;
    if (!ReadAnswer(receiver, answer)) return -1;
    socket.Awaiting(false);
    LogAnswer(gateway, answer.status, answer.body);
    GetGatewayLedger().Answered(address, port, request.body, answer.status, answer.body);
    {
      CNacList::Guard guard(queue_);
      if (CHttpData* answered = queue_.FindHttpData(request, guard)) queue_.RemoveData(answered, guard);
    }
    ResetRetries();
  }
  return -1;
}

int CNacHttpClientThread::Connect(std::uint32_t address, std::uint16_t port, int socket,
                                  platform::SocketEvent& socketEvent) {
  if (socket < 0 ||
      !socketEvent.Select(socket, platform::FD_CONNECT | platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE)) {
    return -1;
  }
  // Header and body go out as two writes before the answer is read: with Nagle the body
  // would wait for the gateway's delayed acknowledgement of the header, 40 ms a request.
  const int noDelay = 1;
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  if (platform::SockConnect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    return -1;
  }
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    const std::uint32_t elapsed = platform::TickCount() - start;
    const int signalled =
        platform::WaitForAny({&socketEvent, &*stopEvent_}, elapsed >= kConnectMs ? 0 : kConnectMs - elapsed);
    if (signalled == 1) {
      endFlag_.store(1);
      return -1;
    }
    if (signalled != 0) return -1;
    const platform::NetworkEvents events = socketEvent.Enumerate();
    if ((events.events & platform::FD_CONNECT) != 0) return events.errorCodes[platform::FD_CONNECT_BIT] == 0 ? 0 : -1;
    if ((events.events & platform::FD_CLOSE) != 0) return -1;
  }
}

void CNacHttpClientThread::LogAnswer(const std::string& gateway, int status, const std::string& body) {
  Count(GetMetrics().answers[AnswerKind(status, body)]);
  if (status != 200) {
    SyslogSend(4, "Response cord from %s is %d.", gateway.c_str(), status);
  } else if (StartsWith(body, "ok")) {
    SyslogSend(7, "Response cord from %s is OK.", gateway.c_str());
  } else if (StartsWith(body, "no list")) {
    SyslogSend(4, "Response cord from %s is no list.", gateway.c_str());
  } else {
    // The invalid-request words and anything else alike: the gateway's own text.
    SyslogSend(4, "Response cord from %s is %s.", gateway.c_str(), body.c_str());
  }
}

void CNacHttpClientThread::Pause(std::uint32_t ms, std::uint32_t address, std::uint16_t port) {
  // In steps, so that a stop does not wait out a 30 s pause, and an erased queue (its
  // gateway gone OFF) frees the sender for the next gateway at once.
  for (std::uint32_t slept = 0; slept < ms && endFlag_.load() == 0; slept += kPauseStepMs) {
    std::uint32_t boundAddress = 0;
    std::uint16_t boundPort = 0;
    if (!Bound(&boundAddress, &boundPort) || boundAddress != address || boundPort != port) return;
    platform::Sleep(std::min(kPauseStepMs, ms - slept));
  }
}

std::string CNacHttpClientThread::Gateway() {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  Bound(&address, &port);
  return GatewayName(address, port);
}

std::string CNacHttpClientThread::GatewayName(std::uint32_t address, std::uint16_t port) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
  char text[32];
  std::snprintf(text, sizeof text, "GW(%d.%d.%d.%d:%d)", bytes[0], bytes[1], bytes[2], bytes[3], port);
  return text;
}

bool CNacHttpClientThread::Bound(std::uint32_t* address, std::uint16_t* port) {
  platform::MutexLock lock(bindingMutex_);
  *address = address_;
  *port = port_;
  return address_ != 0;
}

void CNacHttpClientThread::ResetRetries() {
  platform::MutexLock lock(bindingMutex_);
  retry_ = 0;
}
