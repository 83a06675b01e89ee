#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "delivery/AnswerReader.h"
#include "platform/Event.h"
#include "platform/SocketEvent.h"

// The receiving side of a sender's connection: one byte per receive call, so that the
// reading stops exactly after the terminator and nothing of a following answer is taken,
// each call bounded by 3000 ms in all. The stop event ends a receive at once and sets the
// sender's end flag.
class SocketReceiver final : public AnswerSource {
 public:
  static constexpr std::uint32_t kBoundMs = 3000;

  SocketReceiver(int socket, platform::SocketEvent& socketEvent, platform::Event& stopEvent,
                 std::atomic<int>& endFlag)
      : socket_(socket), socketEvent_(socketEvent), stopEvent_(stopEvent), endFlag_(endFlag) {}

  int RecvUntil(std::string& buffer, std::size_t size, const char* terminator) override;
  bool Stopped() const override { return endFlag_.load() != 0; }

 private:
  int socket_;
  platform::SocketEvent& socketEvent_;
  platform::Event& stopEvent_;
  std::atomic<int>& endFlag_;
};
