#include "delivery/DeliveryLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "delivery/AnswerLog.h"
#include "delivery/GatewayLedger.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/FreeMemory.h"
#include "platform/ThreadMessages.h"
#include "support/Metrics.h"
#include "support/Syslog.h"

namespace {

using std::chrono::milliseconds;

// Connect, a stalled send, and each receive of an answer: the gateway's 3 s.
constexpr milliseconds kStepLimit{3000};
constexpr milliseconds kPauses[] = {milliseconds{10000}, milliseconds{20000}, milliseconds{30000},
                                    milliseconds{30000}};
constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};
constexpr int kEventsPerWait = 256;
constexpr std::size_t kPeekSize = 16384;

}  // namespace

DeliveryLoop::DeliveryLoop(int senders, std::uint32_t owner)
    : owner_(owner), senderCount_(senders), epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!epoll_ || !wake_) throw std::system_error(errno, std::generic_category(), "delivery loop");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeTag;
  if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wake_.Get(), &event) != 0) {
    throw std::system_error(errno, std::generic_category(), "delivery loop");
  }
  {
    platform::MutexLock lock(mutex_);
    senders_.reserve(static_cast<std::size_t>(senders));
    for (int number = 0; number < senders; ++number) senders_.emplace_back(number);
    freeSenders_ = senders_.size();
  }
  thread_ = platform::Thread([this] { Run(); });
  // Delivery is background work: below the console and the controller.
  if (!platform::SetThreadPriority(thread_.Id(), -2)) {
    SyslogSend(4, "CNacHttpClientThread::CreateHttpThread: I failed in setting of thread priority.");
  }
}

DeliveryLoop::~DeliveryLoop() { Stop(); }

DeliveryLoop::Placed DeliveryLoop::Place(std::unique_ptr<CHttpData>& request) {
  platform::MutexLock lock(mutex_);
  if (ending_) return Placed::kNot;
  try {
    if (GatewayQueue* gateway = Find(request->address)) {
      gateway->requests.push_back(std::move(request));
      // A gateway sending its last answer's follow-up finds this one too; one that pauses
      // takes it at its next try.
      return Placed::kQueued;
    }
    CNacHttpClientThread* sender = FreeSender();
    if (sender == nullptr) return Placed::kNot;
    // Whatever can fail for want of memory comes before the request moves: the caller keeps it.
    auto gateway = std::make_unique<GatewayQueue>(request->address, request->port, ++generations_);
    GatewayQueue& placed = *gateway;
    starting_.reserve(starting_.size() + 1);
    gateways_.emplace(placed.address, std::move(gateway));
    try {
      placed.requests.push_back(std::move(request));
    } catch (const std::bad_alloc&) {
      gateways_.erase(placed.address);
      throw;
    }
    sender->Bind(&placed);
    --freeSenders_;
    placed.sender = sender;
    placed.number = sender->Number();
    starting_.push_back({placed.address, placed.generation});
  } catch (const std::bad_alloc&) {
    return Placed::kNoMemory;
  }
  Wake();
  return Placed::kNewQueue;
}

std::optional<std::uint16_t> DeliveryLoop::Erase(std::uint32_t address) {
  platform::MutexLock lock(mutex_);
  GatewayQueue* gateway = ending_ ? nullptr : Find(address);
  if (gateway == nullptr) return std::nullopt;
  const std::uint16_t port = gateway->port;
  // A request on the wire now is abandoned: the connection is reset under it.
  Drop(*gateway);
  Wake();  // its sender may go to a gateway that waits
  return port;
}

std::int32_t DeliveryLoop::Queued(std::optional<std::uint32_t> address) {
  platform::MutexLock lock(mutex_);
  if (address) {
    const GatewayQueue* gateway = Find(*address);
    return gateway != nullptr ? static_cast<std::int32_t>(gateway->requests.size()) : 0;
  }
  std::size_t queued = 0;
  for (const auto& entry : gateways_) queued += entry.second->requests.size();
  return static_cast<std::int32_t>(queued);
}

void DeliveryLoop::AddQueued(std::unordered_map<std::uint32_t, std::int32_t>& counts) {
  platform::MutexLock lock(mutex_);
  for (const auto& [address, gateway] : gateways_) {
    counts[address] += static_cast<std::int32_t>(gateway->requests.size());
  }
}

void DeliveryLoop::BeginStop() {
  platform::MutexLock lock(mutex_);
  ending_ = true;
}

std::string DeliveryLoop::StopSender(int number) {
  platform::MutexLock lock(mutex_);
  if (number < 0 || number >= Senders()) return GatewayName(0, 0);
  CNacHttpClientThread& sender = senders_[static_cast<std::size_t>(number)];
  std::string name = sender.Name();
  if (GatewayQueue* gateway = sender.Gateway()) Drop(*gateway);
  return name;
}

void DeliveryLoop::Stop() {
  {
    platform::MutexLock lock(mutex_);
    if (stopped_) return;
    ending_ = true;
    stopped_ = true;
    while (!gateways_.empty()) Drop(*gateways_.begin()->second);
  }
  Wake();
  thread_.Join();
}

void DeliveryLoop::Wake() {
  const std::uint64_t one = 1;
  (void)::write(wake_.Get(), &one, sizeof one);
}

void DeliveryLoop::Run() {
  epoll_event events[kEventsPerWait];
  int waitMs = -1;
  for (;;) {
    const int count = ::epoll_wait(epoll_.Get(), events, kEventsPerWait, waitMs);
    platform::MutexLock lock(mutex_);
    if (stopped_) return;
    now_ = Clock::now();
    for (int i = 0; i < count && !ending_; ++i) {
      if (events[i].data.u64 == kWakeTag) {
        std::uint64_t drained = 0;
        (void)::read(wake_.Get(), &drained, sizeof drained);
        continue;
      }
      HandleEvent(events[i].data.u64);
    }
    if (!ending_) {
      StartWaiting();
      FireTimers();
      StartWaiting();
    }
    waitMs = ending_ ? -1 : WaitMs();
  }
}

int DeliveryLoop::WaitMs() {
  if (timers_.empty()) return -1;
  const Time next = timers_.top().at;
  if (next <= now_) return 0;
  // Rounded up: a wake a little early would find nothing due and wait again for nothing.
  const auto wait = std::chrono::ceil<milliseconds>(next - now_).count();
  return static_cast<int>(std::min<long long>(wait, 60000));
}

void DeliveryLoop::HandleEvent(std::uint64_t tag) {
  GatewayQueue* gateway = Find(static_cast<std::uint32_t>(tag));
  if (gateway == nullptr || (gateway->generation & 0xFFFFFFFFu) != (tag >> 32)) return;
  switch (gateway->phase) {
    case GatewayQueue::Phase::kConnecting:
      if (gateway->connection.Connected()) {
        SendNext(*gateway);
      } else {
        ConnectionError(*gateway);
      }
      return;
    case GatewayQueue::Phase::kSending:
      WriteMore(*gateway);
      return;
    case GatewayQueue::Phase::kReceiving:
      ReadMore(*gateway);
      return;
    default:
      return;
  }
}

void DeliveryLoop::FireTimers() {
  while (!timers_.empty() && timers_.top().at <= now_ && !ending_) {
    const Timer timer = timers_.top();
    timers_.pop();
    GatewayQueue* gateway = Find(timer.address);
    if (gateway != nullptr && gateway->timer == timer.token) OnTimer(*gateway);
  }
}

void DeliveryLoop::OnTimer(GatewayQueue& gateway) {
  using Phase = GatewayQueue::Phase;
  if (gateway.phase == Phase::kPausing) {
    if (now_ >= gateway.pauseEnd) {
      PauseOver(gateway);
    } else {
      Arm(gateway);
    }
    return;
  }
  if (gateway.phase == Phase::kWaiting) return;
  const std::string name = GatewayName(gateway.address, gateway.port);
  if (gateway.phase == Phase::kReceiving && now_ >= gateway.answerEnd) {
    TryFailed(gateway, 4, "The answer of " + name + " did not end within 10 s.");
    return;
  }
  if (now_ >= gateway.stepEnd) {
    if (gateway.phase == Phase::kConnecting) {
      ConnectionError(gateway);
    } else if (gateway.phase == Phase::kSending) {
      TryFailed(gateway, 7,
                gateway.headerLogged ? "An error occurred at the time of the HTTP body transmission of a message."
                                     : "An error occurred at the time of the HTTP header transmission of a message.");
    } else {
      TryFailed(gateway, 7, gateway.answer.ReceptionFailureText());
    }
    return;
  }
  if (gateway.sender != nullptr && now_ >= gateway.graceEnd) Park(gateway);
  Arm(gateway);
}

void DeliveryLoop::StartWaiting() {
  // New queues first: their sender is already theirs.
  std::vector<Ticket> starting;
  starting.swap(starting_);
  for (const Ticket& ticket : starting) {
    GatewayQueue* gateway = Find(ticket.address);
    if (gateway != nullptr && gateway->generation == ticket.generation &&
        gateway->phase == GatewayQueue::Phase::kWaiting && gateway->sender != nullptr) {
      StartTry(*gateway);
    }
  }
  while (!waiting_.empty() && freeSenders_ > 0 && !ending_) {
    const Ticket ticket = waiting_.front();
    waiting_.pop_front();
    GatewayQueue* gateway = Find(ticket.address);
    if (gateway == nullptr || gateway->generation != ticket.generation ||
        gateway->phase != GatewayQueue::Phase::kWaiting) {
      continue;
    }
    CNacHttpClientThread* sender = FreeSender();
    sender->Bind(gateway);
    --freeSenders_;
    gateway->sender = sender;
    gateway->number = sender->Number();
    StartTry(*gateway);
  }
}

void DeliveryLoop::StartTry(GatewayQueue& gateway) {
  if (gateway.requests.empty()) {
    Drop(gateway);
    return;
  }
  if (gateway.retry > kLastTry) gateway.retry = 0;  // the next request starts with a fresh count
  gateway.generation = ++generations_;
  gateway.phase = GatewayQueue::Phase::kConnecting;
  if (!gateway.connection.Open(epoll_.Get(), Tag(gateway), gateway.address, gateway.port)) {
    ConnectionError(gateway);
    return;
  }
  // Linux would try a silent gateway's SYN for over two minutes; a router that has not
  // answered in 3 s is treated as down, and the try is repeated on schedule.
  gateway.stepEnd = now_ + kStepLimit;
  gateway.graceEnd = now_ + kConnectGrace;
  Arm(gateway);
}

void DeliveryLoop::SendNext(GatewayQueue& gateway) {
  if (gateway.requests.empty()) {
    Drained(gateway);
    return;
  }
  const CHttpData& request = *gateway.requests.front();
  gateway.outgoing = request.Header();
  gateway.headerSize = gateway.outgoing.size();
  gateway.outgoing += request.body;
  gateway.sent = 0;
  gateway.headerLogged = false;
  gateway.phase = GatewayQueue::Phase::kSending;
  gateway.connection.Awaiting(true);
  WriteMore(gateway);
}

void DeliveryLoop::WriteMore(GatewayQueue& gateway) {
  while (gateway.sent < gateway.outgoing.size()) {
    const long written =
        gateway.connection.Write(gateway.outgoing.data() + gateway.sent, gateway.outgoing.size() - gateway.sent);
    if (written < 0) {
      TryFailed(gateway, 7,
                gateway.headerLogged ? "An error occurred at the time of the HTTP body transmission of a message."
                                     : "An error occurred at the time of the HTTP header transmission of a message.");
      return;
    }
    if (written == 0) {
      gateway.connection.WatchWriting();
      gateway.stepEnd = now_ + kStepLimit;
      Arm(gateway);
      return;
    }
    gateway.sent += static_cast<std::size_t>(written);
    if (!gateway.headerLogged && gateway.sent >= gateway.headerSize) {
      gateway.headerLogged = true;
      SyslogSend(7, "HTTP header is %s", gateway.outgoing.substr(0, gateway.headerSize).c_str());
    }
  }
  SyslogSend(7, "HTTP body is %s", gateway.outgoing.c_str() + gateway.headerSize);
  Count(GetMetrics().requestsSent);
  std::string().swap(gateway.outgoing);
  gateway.phase = GatewayQueue::Phase::kReceiving;
  gateway.answer = AnswerParser();
  gateway.answerStep = gateway.answer.Step();
  gateway.stepEnd = now_ + kStepLimit;
  gateway.answerEnd = now_ + kAnswerLimit;
  gateway.graceEnd = now_ + kAnswerGrace;
  gateway.connection.WatchReading();
  Arm(gateway);
}

void DeliveryLoop::ReadMore(GatewayQueue& gateway) {
  char buffer[kPeekSize];
  for (;;) {
    const long peeked = gateway.connection.Peek(buffer, sizeof buffer);
    if (peeked < 0 && !gateway.connection.PeekFailed()) break;  // nothing more now
    if (peeked <= 0) {
      TryFailed(gateway, 7, gateway.answer.ReceptionFailureText());
      return;
    }
    // Only the answer's own bytes are taken: what follows it belongs to the next one.
    const std::size_t used = gateway.answer.Feed(buffer, static_cast<std::size_t>(peeked));
    if (used > 0 && !gateway.connection.Consume(used)) {
      TryFailed(gateway, 7, gateway.answer.ReceptionFailureText());
      return;
    }
    if (gateway.answer.Step() != gateway.answerStep) {
      gateway.answerStep = gateway.answer.Step();
      gateway.stepEnd = now_ + kStepLimit;
    }
    if (gateway.answer.Done()) {
      Answered(gateway);
      return;
    }
    if (gateway.answer.Failed()) {
      const AnswerParser::Failure failure = gateway.answer.failure();
      if (failure == AnswerParser::Failure::kTooLarge) {
        TryFailed(gateway, 4,
                  "The answer of " + GatewayName(gateway.address, gateway.port) + " is larger than " +
                      std::to_string(AnswerParser::kMaxBody) + " bytes.");
      } else {
        TryFailed(gateway, failure == AnswerParser::Failure::kNoMemory ? 2 : 7, AnswerParser::FailureText(failure));
      }
      return;
    }
    if (static_cast<std::size_t>(peeked) < sizeof buffer) break;
  }
  Arm(gateway);
}

void DeliveryLoop::Answered(GatewayQueue& gateway) {
  gateway.connection.Awaiting(false);
  const std::unique_ptr<CHttpData> request = std::move(gateway.requests.front());
  gateway.requests.pop_front();
  ++handledSinceTrim_;
  LogAnswer(GatewayName(gateway.address, gateway.port), gateway.answer.Status(), gateway.answer.Body());
  GetGatewayLedger().Answered(gateway.address, gateway.port, request->body, gateway.answer.Status(),
                              gateway.answer.Body());
  gateway.answer = AnswerParser();
  gateway.retry = 0;
  SendNext(gateway);
}

void DeliveryLoop::Drained(GatewayQueue& gateway) {
  SyslogSend(6, "ACL setting was completed in %s.", GatewayName(gateway.address, gateway.port).c_str());
  gateway.connection.Close();
  gateway.retry = 0;
  Drop(gateway);
}

void DeliveryLoop::ConnectionError(GatewayQueue& gateway) {
  // A note to the owner after a connection error; losing it goes unlogged.
  (void)platform::PostToThread(owner_, msg::httpclient::WM_THREAD_ERROR, static_cast<std::uint32_t>(gateway.number),
                               0);
  TryFailed(gateway, 7, "Connection error to " + GatewayName(gateway.address, gateway.port) + ".");
}

void DeliveryLoop::TryFailed(GatewayQueue& gateway, int priority, const std::string& text) {
  gateway.connection.Close();
  SyslogSend(priority, "%s", text.c_str());
  const std::string name = GatewayName(gateway.address, gateway.port);
  Count(GetMetrics().triesFailed);
  GetGatewayLedger().TryFailed(gateway.address, gateway.port, text);
  SyslogSend(7, "The remainder re-try number of times for ACL setting for %s is a %d time.", name.c_str(),
             kLastTry - gateway.retry);
  if (gateway.retry < kLastTry) {
    Pause(gateway, kPauses[std::max(gateway.retry, 0)]);
    return;
  }
  gateway.requests.pop_front();
  SyslogSend(4, "I failed in setting of quarantine inspection information for %s.", name.c_str());
  Count(GetMetrics().requestsDropped);
  GetGatewayLedger().Dropped(gateway.address, gateway.port);
  if (gateway.requests.empty()) {
    Drop(gateway);
    return;
  }
  Pause(gateway, kPauses[kLastTry]);
}

void DeliveryLoop::Pause(GatewayQueue& gateway, milliseconds pause) {
  ReleaseSender(gateway);
  gateway.phase = GatewayQueue::Phase::kPausing;
  gateway.pauseEnd = now_ + platform::CurrentClock().SleepLength(static_cast<std::uint32_t>(pause.count()));
  Arm(gateway);
}

void DeliveryLoop::PauseOver(GatewayQueue& gateway) {
  ++gateway.retry;
  gateway.phase = GatewayQueue::Phase::kWaiting;
  waiting_.push_back({gateway.address, gateway.generation});
}

void DeliveryLoop::Park(GatewayQueue& gateway) {
  if (parked_ >= kParkedLimit) {
    gateway.graceEnd = Time::max();  // too many go on alone already: this one keeps its sender
    return;
  }
  ReleaseSender(gateway);
  gateway.parked = true;
  ++parked_;
}

void DeliveryLoop::Drop(GatewayQueue& gateway) {
  gateway.connection.Close();
  ReleaseSender(gateway);
  gateways_.erase(gateway.address);
  // A storm's queues are gone once the last gateway is served: their memory goes back.
  if (gateways_.empty() && handledSinceTrim_ >= kTrimAfterRequests) {
    handledSinceTrim_ = 0;
    platform::ReturnFreeMemory();
  }
}

void DeliveryLoop::Arm(GatewayQueue& gateway) {
  Time at = Time::max();
  if (gateway.phase == GatewayQueue::Phase::kPausing) {
    at = gateway.pauseEnd;
  } else if (gateway.phase != GatewayQueue::Phase::kWaiting) {
    at = gateway.stepEnd;
    if (gateway.phase == GatewayQueue::Phase::kReceiving) at = std::min(at, gateway.answerEnd);
    if (gateway.sender != nullptr) at = std::min(at, gateway.graceEnd);
  }
  gateway.timer = ++tokens_;
  if (at != Time::max()) timers_.push({at, gateway.address, gateway.timer});
}

void DeliveryLoop::ReleaseSender(GatewayQueue& gateway) {
  if (gateway.parked) {
    gateway.parked = false;
    --parked_;
  }
  if (gateway.sender == nullptr) return;
  gateway.sender->Release();
  gateway.sender = nullptr;
  ++freeSenders_;
}

CNacHttpClientThread* DeliveryLoop::FreeSender() {
  if (freeSenders_ == 0) return nullptr;
  // The lowest number first, as a free slot is looked for from 0 upward.
  for (CNacHttpClientThread& sender : senders_) {
    if (sender.Free()) return &sender;
  }
  return nullptr;
}

GatewayQueue* DeliveryLoop::Find(std::uint32_t address) {
  const auto found = gateways_.find(address);
  return found != gateways_.end() ? found->second.get() : nullptr;
}

std::uint64_t DeliveryLoop::Tag(const GatewayQueue& gateway) {
  return (gateway.generation << 32) | gateway.address;
}
