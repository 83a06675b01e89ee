#pragma once

#include <cstdint>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"

// The texts a message-thread class throws when it cannot be built, and the one it logs
// when its destructor cannot post the quit message (nullptr: it logs nothing).
struct MessageThreadTexts {
  const char* event;
  const char* thread;
  const char* destructor;
};

// The thread of an active object: a message loop with a start confirmation. The object
// keeps a MessageThread as its last member, so that the thread is stopped before any other
// member is destroyed, and implements Handler:
//   on the new thread: OnCreate (start work), start confirmation, OnMessage for each
//   message in posting order, and OnClose once the quit message has arrived.
// The constructor returns when OnCreate has finished, plus 100 ms, as owners expect,
// unless the object was made with StartPause::kNone.
class MessageThread {
 public:
  enum class StartPause {
    kSettle,  // 100 ms after the start confirmation
    kNone,    // return at the confirmation: for objects made once per operator connection
  };

  class Handler {
   public:
    virtual void OnCreate() {}
    virtual void OnMessage(const platform::ThreadMessage& message) = 0;
    virtual void OnClose() {}

   protected:
    ~Handler() = default;
  };

  // Throws ThrownText with texts.event or texts.thread.
  MessageThread(Handler& handler, const MessageThreadTexts& texts, StartPause pause = StartPause::kSettle);
  // Posts the quit message unless the thread was already joined, and waits for the end.
  ~MessageThread();
  MessageThread(const MessageThread&) = delete;
  MessageThread& operator=(const MessageThread&) = delete;

  uint32_t Id() const { return threadId_; }
  // True until Join has returned.
  bool Running() const { return thread_.Joinable(); }
  // Posts the quit message to the thread; false when the post fails.
  [[nodiscard]] bool PostQuit() const;
  // Waits without time-out for the thread to end.
  void Join();

 private:
  void Body();

  Handler& handler_;
  const MessageThreadTexts texts_;
  platform::Event started_;
  uint32_t threadId_ = 0;
  platform::Thread thread_;
};
