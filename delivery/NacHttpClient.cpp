#include "delivery/NacHttpClient.h"

#include <cstdint>
#include <new>
#include <string>
#include <system_error>

#include "delivery/PendingDispatch.h"
#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "request/HttpDataList.h"
#include "support/Settings.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacHttpClient.",
    "I failed in making of a message thread to use in CNacHttpClient.",
    "CNacHttpClient::~CNacHttpClient: An error occurred in PostThreadMessage."};

constexpr std::uint32_t kDispatchMs = 100;

void LogAdded(const char* format, std::uint32_t address) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
  SyslogSend(7, format, bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace

namespace {

int ConfiguredSenders() {
  const int senders = settings::SenderCount(settings::ReadSenderCountText());
  return senders != 0 ? senders : CNacHttpClient::kSenders;
}

}  // namespace

CNacHttpClient::CNacHttpClient() : CNacHttpClient(ConfiguredSenders()) {}

CNacHttpClient::CNacHttpClient(int senders) : senders_(senders), thread_(*this, kTexts) {}

CNacHttpClient::~CNacHttpClient() {
  if (thread_.Running()) {
    if (!thread_.PostQuit()) SyslogSend(3, "%s", kTexts.destructor);
    thread_.Join();
  }
}

void CNacHttpClient::OnCreate() {
  try {
    loop_ = std::make_unique<DeliveryLoop>(senders_, platform::CurrentThreadId());
  } catch (const std::system_error&) {
    SyslogSend(2, "A CreateHttpThread function is an error.");
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "I failed in making of CNacHttpClientThread.");
  }
  sendEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  if (sendEvent_) stopEvent_ = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!sendEvent_ || !stopEvent_) {
    SyslogSend(2, "CNacHttpClient::OnCreate: I failed in making of an event handler.");
    return;
  }
  try {
    eventThread_ = platform::Thread([this] { EventProc(); });
  } catch (const std::system_error&) {
    SyslogSend(2, "CNacHttpClient::OnCreate: I failed in making of a thread.");
  }
}

void CNacHttpClient::OnMessage(const platform::ThreadMessage& message) {
  if (message.message == msg::httpclient::WM_HTTPCLIENT_SEND && sendEvent_) sendEvent_->Signal();
  // The senders' error and exit reports need nothing done.
}

void CNacHttpClient::OnClose() {
  SyslogSend(7, "I started end processing of an HTTP client.");
  endFlag_.store(1);
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    pending.RemoveAll(guard);
    if (loop_) {
      loop_->BeginStop();
      // Each sender is stopped, then stopped again as it goes: the second time it is free.
      for (int number = 0; number < loop_->Senders(); ++number) {
        const std::string served = loop_->StopSender(number);
        for (const std::string& gateway : {served, GatewayName(0, 0)}) {
          SyslogSend(7, "I delete a queue of an HTTP client thread. No %d. %s.", number, gateway.c_str());
          SyslogSend(7, "I started end processing of an HTTP client thread.");
          SyslogSend(7, "End processing of an HTTP client thread was finished.");
        }
      }
      loop_->Stop();
    }
  }
  if (stopEvent_ && eventThread_.Joinable()) {
    stopEvent_->Signal();
    eventThread_.Join();
  }
  SyslogSend(7, "End processing of an HTTP client was finished.");
}

bool CNacHttpClient::EventSend() { return endFlag_.load() == 0 && sendEvent_ && sendEvent_->Set(); }

void CNacHttpClient::EventProc() {
  while (endFlag_.load() == 0) {
    const int signalled = platform::WaitForAny({&*stopEvent_, &*sendEvent_}, kDispatchMs);
    if (signalled == platform::kWaitTimeout || signalled == 1) {
      HttpDataDispatch();
    } else {
      endFlag_.store(1);
      if (signalled != 0) PostToOwner(msg::httpclient::WM_HTTPCLIENT_ERROR);
    }
  }
  PostToOwner(msg::httpclient::WM_HTTPCLIENT_EXIT);
}

void CNacHttpClient::HttpDataDispatch() {
  DispatchPending(GetPendingHttpDataList(), endFlag_,
                  [this](std::unique_ptr<CHttpData>& copy) { return HttpEventSearchHttpClient(copy) == 0; });
}

int CNacHttpClient::HttpEventSearchHttpClient(std::unique_ptr<CHttpData>& request) {
  if (endFlag_.load() != 0 || !loop_) return -1;
  const std::uint32_t address = request->address;
  switch (loop_->Place(request)) {
    case DeliveryLoop::Placed::kQueued:
      LogAdded("CNacHttpClient::HttpEventSearchHttpClient: I added HTTP data to queue of %d.%d.%d.%d.", address);
      return 0;
    case DeliveryLoop::Placed::kNewQueue:
      LogAdded("CNacHttpClient::HttpEventSearchHttpClient: I added HTTP data to new queue of %d.%d.%d.%d.", address);
      return 0;
    case DeliveryLoop::Placed::kNoMemory:
      SyslogSend(4, "I was not able to add HTTP data to a queue.");
      return -1;
    case DeliveryLoop::Placed::kNot:
      break;
  }
  return -1;
}

void CNacHttpClient::EraseHttpQueue(std::uint32_t address) {
  if (endFlag_.load() != 0 || !loop_) return;
  if (const std::optional<std::uint16_t> port = loop_->Erase(address)) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    SyslogSend(7, "I erased an HTTP transmission of a message queue to GW(%d.%d.%d.%d:%d).", bytes[0], bytes[1],
               bytes[2], bytes[3], *port);
  }
}

std::int32_t CNacHttpClient::Waiting(std::optional<std::uint32_t> address) {
  std::int32_t waiting = 0;
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    for (CNacNode* node = pending.GetHead(guard); node != nullptr; node = pending.GetNext(node, guard)) {
      if (!address || node->RecordAs<CHttpData>()->address == *address) ++waiting;
    }
  }
  if (loop_) waiting += loop_->Queued(address);
  return waiting;
}

std::unordered_map<std::uint32_t, std::int32_t> CNacHttpClient::WaitingEach() {
  std::unordered_map<std::uint32_t, std::int32_t> counts;
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    for (CNacNode* node = pending.GetHead(guard); node != nullptr; node = pending.GetNext(node, guard)) {
      ++counts[node->RecordAs<CHttpData>()->address];
    }
  }
  if (loop_) loop_->AddQueued(counts);
  return counts;
}

void CNacHttpClient::PostToOwner(std::uint32_t message) {
  if (!PostMessageMainThread(message, 0, 0)) {
    SyslogSend(3, "CNacHttpClient::EventProc: An error occurred in PostMessageMainThread.");
  }
}
