#include "keepalive/NacKeepAlive.h"

#include <limits>
#include <system_error>

#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacKeepAlive.",
    "I failed in making of a message thread to use in CNacKeepAlive.",
    "CNacKeepAlive::~CNacKeepAlive: An error occurred in PostThreadMessage."};

constexpr std::uint32_t kScanMs = 100;
constexpr char kTimerPostFailure[] = "CNacKeepAlive::TimerProc: An error occurred in PostMessageMainThread.";

std::optional<platform::Event> MakeTimerEndEvent() {
  std::optional<platform::Event> event = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!event) throw ThrownText(kTexts.event);
  return event;
}

}  // namespace

CNacKeepAlive::CNacKeepAlive() : timerEndEvent_(MakeTimerEndEvent()), thread_(*this, kTexts) {}

CNacKeepAlive::~CNacKeepAlive() {
  if (thread_.Running()) {
    if (!thread_.PostQuit()) SyslogSend(3, "%s", kTexts.destructor);
    thread_.Join();
  }
  StopTimer();
  StopProbers();
}

int CNacKeepAlive::StartTimer() {
  try {
    timer_ = platform::Thread([this] { TimerProc(); });
  } catch (const std::system_error&) {
    return -1;
  }
  return 0;
}

void CNacKeepAlive::OnCreate() {
  // The probers report to this thread; its id is not yet known to the constructor.
  const std::uint32_t self = platform::CurrentThreadId();
  platform::MutexLock lock(proberMutex_);
  for (int index = 0; index < kProbers; ++index) {
    try {
      auto prober = std::make_unique<CNacKeepAliveThread>();
      prober->SaveThreadID(self);
      if (prober->CreateProbeThread(index) != 0) SyslogSend(4, "I failed in making of a CNacKeepAliveThread thread.");
      probers_[index] = std::move(prober);
    } catch (const ThrownText& thrown) {
      SyslogSend(2, "%s", thrown.Text());
    } catch (...) {
      SyslogSend(2, "I failed in making of a CNacKeepAliveThread thread.");
    }
  }
}

void CNacKeepAlive::OnMessage(const platform::ThreadMessage& message) {
  if (message.message == msg::keepalive::WM_THREAD_EXIT) {
    SyslogSend(7, "A NacKeepAliveThread thread was finished.");
  } else if (message.message == msg::keepalive::WM_KEEPALIVE_START ||
             message.message == msg::keepalive::WM_KEEPALIVE_STOP) {
    if (!PostMessageMainThread(message.message, message.wParam, 0)) {
      SyslogSend(3, "CNacKeepAlive::MsgProc: An error occurred in PostMessageMainThread.");
    }
  }
}

void CNacKeepAlive::OnClose() {
  // The timer hands jobs to the probers: it ends first.
  StopTimer();
  StopProbers();
}

void CNacKeepAlive::StopTimer() {
  if (!timer_.Joinable()) return;
  timerEndEvent_->Signal();
  timer_.Join();
}

void CNacKeepAlive::StopProbers() {
  platform::MutexLock lock(proberMutex_);
  for (std::unique_ptr<CNacKeepAliveThread>& prober : probers_) {
    if (!prober) continue;
    prober->StopThread();
    prober.reset();
  }
}

void CNacKeepAlive::TimerProc() {
  for (;;) {
    const int signalled = platform::WaitForOne(*timerEndEvent_, kScanMs);
    if (signalled == platform::kWaitTimeout) {
      Scan();
      continue;
    }
    if (signalled != 0) PostToOwner(msg::keepalive::WM_KEEPALIVE_ERROR, kTimerPostFailure);
    break;
  }
  PostToOwner(msg::keepalive::WM_KEEPALIVE_EXIT, kTimerPostFailure);
}

void CNacKeepAlive::Scan() {
  // What is due is read in one short hold of the registry's lock; each hand-over then
  // takes it again for its one record.
  const std::int64_t now = platform::CurrentClock().NowSeconds();
  due_.clear();
  {
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard guard(gateways);
    for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
      const CGwData& gateway = *node->RecordAs<CGwData>();
      if (!gateway.IsLive() || gateway.probeOutstanding != 0) continue;
      if (now < gateway.lastProbeTime + gateway.interval) continue;
      due_.push_back({gateway.address, gateway.port, gateway.portText});
    }
  }
  for (const DueGateway& due : due_) Schedule(due, now);
}

void CNacKeepAlive::Schedule(const DueGateway& due, std::int64_t now) {
  platform::MutexLock lock(proberMutex_);
  CNacKeepAliveThread* prober = LeastBusyProber();
  try {
    auto job = std::make_unique<CKeepAliveData>();
    CGwData key = CGwDataList::AddressKey(due.address);
    key.portText = due.portText;
    key.port = due.port;
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard guard(gateways);
    CGwData* gateway = gateways.FindLive(key, guard);
    if (gateway == nullptr) return;
    gateway->probeOutstanding = 1;
    job->SetAddress(gateway->address);
    if (prober == nullptr || prober->AddJob(std::move(job)) != 0) gateway->probeOutstanding = 0;
    gateway->lastProbeTime = now;
  } catch (...) {
    SyslogSend(2, "I failed in making of CKeepAliveData.");
  }
}

int CNacKeepAlive::LeastBusy(std::span<const std::int32_t> jobCounts) {
  int chosen = -1;
  std::int32_t fewest = std::numeric_limits<std::int32_t>::max();
  for (std::size_t index = 0; index < jobCounts.size(); ++index) {
    if (jobCounts[index] < fewest) {
      fewest = jobCounts[index];
      chosen = static_cast<int>(index);
    }
  }
  return chosen;
}

CNacKeepAliveThread* CNacKeepAlive::LeastBusyProber() {
  std::array<std::int32_t, kProbers> counts;
  for (int index = 0; index < kProbers; ++index) {
    counts[index] = probers_[index] ? probers_[index]->JobCount() : std::numeric_limits<std::int32_t>::max();
  }
  const int chosen = LeastBusy(counts);
  return chosen < 0 ? nullptr : probers_[chosen].get();
}

void CNacKeepAlive::PostToOwner(std::uint32_t message, const char* failureText) {
  if (!PostMessageMainThread(message, 0, 0)) SyslogSend(3, "%s", failureText);
}
