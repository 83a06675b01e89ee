#include "keepalive/NacKeepAliveThread.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "msgthread/RegisteredMessages.h"
#include "platform/Clock.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

// The longest sleep of the worker: a clock moved by hand is seen within it.
constexpr std::int64_t kWaitMs = 100;
constexpr char kPostFailure[] = "CNacKeepAliveThread::KeepAliveProc: An error occurred in PostMessageMainThread.";

void LogGateway(const char* format, std::uint32_t address) {
  const auto* a = reinterpret_cast<const std::uint8_t*>(&address);
  SyslogSend(7, format, a[0], a[1], a[2], a[3]);
}

}  // namespace

CNacKeepAliveThread::CNacKeepAliveThread()
    : workEvent_(platform::Event::Create(platform::EventReset::kManual, false)),
      endEvent_(platform::Event::Create(platform::EventReset::kManual, false)) {
  if (!workEvent_ || !endEvent_) {
    throw ThrownText("I failed in making of an event handler for start confirmation to use in CNacKeepAliveThread.");
  }
}

CNacKeepAliveThread::~CNacKeepAliveThread() { StopThread(); }

int CNacKeepAliveThread::CreateProbeThread(int index) {
  mode_ = ReadPingMode();
  index_ = static_cast<std::uint32_t>(index);
  try {
    thread_ = platform::Thread([this] { KeepAliveProc(); });
  } catch (const std::system_error&) {
    return -1;
  }
  if (!platform::SetThreadPriority(thread_.Id(), -1)) {
    SyslogSend(4, "KeepAliveProc: I failed in setting of thread priority.");
  }
  return 0;
}

int CNacKeepAliveThread::AddJobs(std::span<const std::uint32_t> addresses) {
  try {
    platform::MutexLock lock(jobMutex_);
    jobs_.insert(jobs_.end(), addresses.begin(), addresses.end());
  } catch (...) {
    return -1;
  }
  workEvent_->Signal();
  return 0;
}

void CNacKeepAliveThread::StopThread() {
  if (!thread_.Joinable()) return;
  endEvent_->Signal();
  thread_.Join();
}

void CNacKeepAliveThread::KeepAliveProc() {
  IcmpSocket socket(mode_, static_cast<std::uint16_t>(platform::CurrentThreadId() & 0xFFFF));
  platform::Clock& clock = platform::CurrentClock();
  for (;;) {
    std::int64_t wait = kWaitMs;
    if (const std::optional<std::int64_t> deadline = probes_.NextDeadline()) {
      wait = std::clamp<std::int64_t>(*deadline - clock.MonotonicMs(), 0, kWaitMs);
    }
    pollfd fds[] = {{endEvent_->Fd(), POLLIN, 0}, {workEvent_->Fd(), POLLIN, 0}, {socket.Fd(), POLLIN, 0}};
    if (::poll(fds, 3, static_cast<int>(wait)) < 0 && errno != EINTR) {
      if (!PostMessageMainThread(msg::keepalive::WM_THREAD_ERROR, 0, 0)) SyslogSend(3, "%s", kPostFailure);
      break;
    }
    if (fds[0].revents != 0) break;
    // Answers first: one that came within its window counts even when the wake is late.
    if (fds[2].revents != 0) ReadAnswers(socket);
    if (fds[1].revents != 0) SendProbes(socket);
    ended_.clear();
    probes_.Expire(clock.MonotonicMs(), ended_);
    for (const std::uint32_t address : ended_) Unanswered(address);
  }
  ReleaseUnfinished();
  if (!PostMessageMainThread(msg::keepalive::WM_THREAD_EXIT, index_, 0)) SyslogSend(3, "%s", kPostFailure);
}

void CNacKeepAliveThread::SendProbes(IcmpSocket& socket) {
  // Reset before the jobs are taken: a job added after this wakes the next poll.
  (void)workEvent_->Reset();
  taken_.clear();
  {
    platform::MutexLock lock(jobMutex_);
    taken_.swap(jobs_);
  }
  for (const std::uint32_t address : taken_) {
    Count(GetMetrics().probesSent);
    // A socket that could not be had is tried again for every probe.
    if (!socket.Open()) {
      if (mode_ == PingMode::kLibrary) SyslogSend(7, "I failed in load of an ICMP.DLL library.");
      Unanswered(address);
      continue;
    }
    const std::optional<std::uint16_t> sequence = probes_.Start(address, platform::CurrentClock().MonotonicMs());
    if (!sequence) {
      Unanswered(address);
      continue;
    }
    if (mode_ == PingMode::kLibrary) LogGateway("I transmitted PING to GW(%d.%d.%d.%d).", address);
    if (!socket.Send(address, *sequence)) {
      probes_.Cancel(*sequence);
      Unanswered(address);
      continue;
    }
    if (mode_ == PingMode::kRaw) LogGateway("I transmitted PING to GW(%d.%d.%d.%d).", address);
  }
}

void CNacKeepAliveThread::ReadAnswers(IcmpSocket& socket) {
  answers_.clear();
  socket.Receive(answers_);
  for (const std::uint16_t sequence : answers_) {
    if (const std::optional<std::uint32_t> address = probes_.Answer(sequence)) Answered(*address);
  }
}

void CNacKeepAliveThread::Answered(std::uint32_t address) {
  Count(GetMetrics().probesAnswered);
  LogGateway("I received a PING reply of GW(%d.%d.%d.%d).", address);
  if (GetGwDataList().KeepAliveOn(address) != 0) Report(msg::keepalive::WM_KEEPALIVE_START, address);
}

void CNacKeepAliveThread::Unanswered(std::uint32_t address) {
  if (GetGwDataList().KeepAliveOff(address) != 0) Report(msg::keepalive::WM_KEEPALIVE_STOP, address);
}

void CNacKeepAliveThread::ReleaseUnfinished() {
  ended_.clear();
  probes_.TakeAll(ended_);
  {
    platform::MutexLock lock(jobMutex_);
    ended_.insert(ended_.end(), jobs_.begin(), jobs_.end());
    jobs_.clear();
  }
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  for (const std::uint32_t address : ended_) {
    if (CGwData* gateway = gateways.FindLive(CGwDataList::AddressKey(address), guard)) gateway->probeOutstanding = 0;
  }
}

void CNacKeepAliveThread::Report(std::uint32_t message, std::uint32_t address) {
  if (!PostMessageMainThread(message, address, 0)) {
    SyslogSend(3, "CNacKeepAliveThread::KeepAliveSend: An error occurred in PostMessageMainThread.");
  }
}
