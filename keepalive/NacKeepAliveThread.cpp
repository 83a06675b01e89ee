#include "keepalive/NacKeepAliveThread.h"

#include <system_error>

#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr std::uint32_t kWaitMs = 100;

}  // namespace

CNacKeepAliveThread::CNacKeepAliveThread()
    : workEvent_(platform::Event::Create(platform::EventReset::kAuto, false)),
      endEvent_(platform::Event::Create(platform::EventReset::kAuto, false)) {
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

int CNacKeepAliveThread::AddJob(std::unique_ptr<CKeepAliveData> job) {
  try {
    jobs_.AddTail(job.get(), false);
  } catch (...) {
    return -1;
  }
  job.release();
  workEvent_->Signal();
  return 0;
}

void CNacKeepAliveThread::StopThread() {
  if (!thread_.Joinable()) return;
  endEvent_->Signal();
  thread_.Join();
}

void CNacKeepAliveThread::KeepAliveProc() {
  for (;;) {
    const int signalled = platform::WaitForAny({&*workEvent_, &*endEvent_}, kWaitMs);
    if (signalled == platform::kWaitTimeout || signalled == 0) {
      KeepAliveSend();
      continue;
    }
    if (signalled != 1 && !PostMessageMainThread(msg::keepalive::WM_THREAD_ERROR, 0, 0)) {
      SyslogSend(3, "CNacKeepAliveThread::KeepAliveProc: An error occurred in PostMessageMainThread.");
    }
    break;
  }
  if (!PostMessageMainThread(msg::keepalive::WM_THREAD_EXIT, index_, 0)) {
    SyslogSend(3, "CNacKeepAliveThread::KeepAliveProc: An error occurred in PostMessageMainThread.");
  }
}

void CNacKeepAliveThread::KeepAliveSend() {
  // The end event is not looked at: a prober that is being stopped empties its list first.
  while (std::unique_ptr<CNacNode> node = jobs_.UnlinkHead(false)) {
    const std::uint32_t address = node->RecordAs<CKeepAliveData>()->Address();
    Count(GetMetrics().probesSent);
    if (Ping(address) == 0) {
      Count(GetMetrics().probesAnswered);
      if (GetGwDataList().KeepAliveOn(address) != 0) Report(msg::keepalive::WM_KEEPALIVE_START, address);
    } else {
      if (GetGwDataList().KeepAliveOff(address) != 0) Report(msg::keepalive::WM_KEEPALIVE_STOP, address);
    }
  }
}

int CNacKeepAliveThread::Ping(std::uint32_t address) {
  if (mode_ == PingMode::kLibrary) return LibraryPing(address);
  return RawPing(address, static_cast<std::uint16_t>(platform::CurrentThreadId() & 0xFFFF));
}

void CNacKeepAliveThread::Report(std::uint32_t message, std::uint32_t address) {
  if (!PostMessageMainThread(message, address, 0)) {
    SyslogSend(3, "CNacKeepAliveThread::KeepAliveSend: An error occurred in PostMessageMainThread.");
  }
}
