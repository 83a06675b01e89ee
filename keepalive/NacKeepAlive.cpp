#include "keepalive/NacKeepAlive.h"

#include <algorithm>
#include <system_error>

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

constexpr char kTimerPostFailure[] = "CNacKeepAlive::TimerProc: An error occurred in PostMessageMainThread.";

// The longest sleep of the timer thread: new gateways, and a clock moved by hand, are seen
// within it. Registry walks come no closer together either.
constexpr std::int64_t kTickMs = 100;
// The shortest: gateways due within it go together, for fewer wake-ups.
constexpr std::int64_t kGatherMs = 10;
// How soon a gateway whose last probe is still out is looked at again.
constexpr std::int64_t kOutstandingRetryMs = 100;

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
  StopProber();
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
  // The prober reports to this thread; its id is not yet known to the constructor.
  platform::MutexLock lock(proberMutex_);
  try {
    auto prober = std::make_unique<CNacKeepAliveThread>();
    prober->SaveThreadID(platform::CurrentThreadId());
    if (prober->CreateProbeThread(0) != 0) SyslogSend(4, "I failed in making of a CNacKeepAliveThread thread.");
    prober_ = std::move(prober);
  } catch (const ThrownText& thrown) {
    SyslogSend(2, "%s", thrown.Text());
  } catch (...) {
    SyslogSend(2, "I failed in making of a CNacKeepAliveThread thread.");
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
  // The timer hands jobs to the prober: it ends first.
  StopTimer();
  StopProber();
}

void CNacKeepAlive::StopTimer() {
  if (!timer_.Joinable()) return;
  timerEndEvent_->Signal();
  timer_.Join();
}

void CNacKeepAlive::StopProber() {
  platform::MutexLock lock(proberMutex_);
  if (!prober_) return;
  prober_->StopThread();
  prober_.reset();
}

void CNacKeepAlive::TimerProc() {
  platform::Clock& clock = platform::CurrentClock();
  std::int64_t next = clock.MonotonicMs();
  for (;;) {
    const std::int64_t wait = std::clamp<std::int64_t>(next - clock.MonotonicMs(), 0, kTickMs);
    const int signalled = platform::WaitForOne(*timerEndEvent_, static_cast<std::uint32_t>(wait));
    if (signalled == platform::kWaitTimeout) {
      next = Tick(clock.MonotonicMs());
      continue;
    }
    if (signalled != 0) PostToOwner(msg::keepalive::WM_KEEPALIVE_ERROR, kTimerPostFailure);
    break;
  }
  PostToOwner(msg::keepalive::WM_KEEPALIVE_EXIT, kTimerPostFailure);
}

std::int64_t CNacKeepAlive::Tick(std::int64_t now) {
  CGwDataList& gateways = GetGwDataList();
  if (gateways.Changes() != walkedChanges_ && (!walkedChanges_ || now - walkedAt_ >= kTickMs)) Walk(now);
  jobs_.clear();
  {
    CNacList::Guard guard(gateways);
    for (;;) {
      const std::optional<std::int64_t> due = schedule_.NextDue();
      if (!due || *due > now || pacer_.NextAllowed(now) > now) break;
      const std::uint32_t address = *schedule_.PopDue(now);
      CGwData* gateway = gateways.FindLive(CGwDataList::AddressKey(address), guard);
      if (gateway == nullptr) {
        schedule_.Forget(address);
        continue;
      }
      if (gateway->probeOutstanding != 0) {
        schedule_.Put(address, now + kOutstandingRetryMs);
        continue;
      }
      (void)pacer_.Take(now);
      gateway->probeOutstanding = 1;
      gateway->lastProbeTime = now;
      schedule_.Put(address, now + std::max<std::int64_t>(gateway->interval, 0) * 1000);
      try {
        jobs_.push_back(address);
      } catch (...) {
        gateway->probeOutstanding = 0;
        SyslogSend(2, "I failed in making of CKeepAliveData.");
        break;
      }
    }
  }
  if (!jobs_.empty()) HandOver();

  std::int64_t next = now + kTickMs;
  if (const std::optional<std::int64_t> due = schedule_.NextDue()) {
    next = std::min(next, std::max(*due, pacer_.NextAllowed(now)));
  }
  return std::max(next, now + kGatherMs);
}

void CNacKeepAlive::Walk(std::int64_t now) {
  CGwDataList& gateways = GetGwDataList();
  try {
    CNacList::Guard guard(gateways);
    // Read under the lock: a gateway linked after this is counted for the next walk.
    const std::uint64_t changes = gateways.Changes();
    schedule_.BeginWalk();
    for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
      const CGwData& gateway = *node->RecordAs<CGwData>();
      if (!gateway.IsLive()) continue;
      // A gateway never probed is due at once.
      const std::int64_t due = gateway.lastProbeTime == 0 ? now : gateway.lastProbeTime + gateway.interval * 1000;
      schedule_.Seen(gateway.address, due);
    }
    schedule_.EndWalk();
    walkedChanges_ = changes;
  } catch (...) {
    SyslogSend(3, "I failed in a list search of CGwData.");
  }
  walkedAt_ = now;
}

void CNacKeepAlive::HandOver() {
  {
    platform::MutexLock lock(proberMutex_);
    if (prober_ && prober_->AddJobs(jobs_) == 0) return;
  }
  // No prober took them: the gateways are free for their next turn.
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  for (const std::uint32_t address : jobs_) {
    if (CGwData* gateway = gateways.FindLive(CGwDataList::AddressKey(address), guard)) gateway->probeOutstanding = 0;
  }
}

void CNacKeepAlive::PostToOwner(std::uint32_t message, const char* failureText) {
  if (!PostMessageMainThread(message, 0, 0)) SyslogSend(3, "%s", failureText);
}
