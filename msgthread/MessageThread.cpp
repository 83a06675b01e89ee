#include "msgthread/MessageThread.h"

#include <system_error>

#include "platform/Clock.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr uint32_t kSettleMs = 100;

platform::Event MakeStartEvent(const char* text) {
  auto event = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!event) throw ThrownText(text);
  return std::move(*event);
}

}  // namespace

MessageThread::MessageThread(Handler& handler, const MessageThreadTexts& texts, StartPause pause)
    : handler_(handler), texts_(texts), started_(MakeStartEvent(texts.event)) {
  try {
    thread_ = platform::Thread([this] { Body(); });
  } catch (const std::system_error&) {
    throw ThrownText(texts_.thread);
  }
  threadId_ = thread_.Id();
  // Without a time-out: the start work (loading every registry) may take long, and the
  // owner must not go on before it is done.
  if (platform::WaitForOne(started_, std::nullopt) != 0) {
    SyslogSend(3, "I failed in waiting for the start of a message thread.");
  }
  if (pause == StartPause::kSettle) platform::Sleep(kSettleMs);
}

MessageThread::~MessageThread() {
  if (!thread_.Joinable()) return;
  if (!PostQuit() && texts_.destructor != nullptr) SyslogSend(3, "%s", texts_.destructor);
  Join();
}

bool MessageThread::PostQuit() const {
  return platform::PostToThread(threadId_, platform::kQuitMessage, 0, 0);
}

void MessageThread::Join() { thread_.Join(); }

void MessageThread::Body() {
  platform::MessageQueue queue;  // exists before the confirmation, so posts after it land
  handler_.OnCreate();
  started_.Signal();
  platform::ThreadMessage message;
  while (queue.TakeMessage(message)) handler_.OnMessage(message);
  handler_.OnClose();
}
