#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "delivery/AnswerParser.h"
#include "delivery/Connection.h"
#include "request/HttpData.h"

class CNacHttpClientThread;

// What the delivery holds for one gateway while it owes it requests: the queue in sending
// order, the try under way (one connection per try) and the count of failed tries of the
// request at the head. Made when the gateway's first request is placed, gone when its queue
// is empty or erased. Only the delivery loop's lock holder touches it.
struct GatewayQueue {
  using Time = std::chrono::steady_clock::time_point;
  enum class Phase {
    kWaiting,     // for a sender, to start its next try
    kConnecting,
    kSending,
    kReceiving,
    kPausing,     // between tries
  };

  GatewayQueue(std::uint32_t address, std::uint16_t port, std::uint64_t generation)
      : address(address), port(port), generation(generation) {}

  const std::uint32_t address;  // network order
  const std::uint16_t port;
  // Taken when the queue is made and again at each try: the events of a connection given up,
  // or of an erased queue, never reach the gateway's next try or its next queue.
  std::uint64_t generation;
  std::deque<std::unique_ptr<CHttpData>> requests;
  std::int32_t retry = 0;
  Phase phase = Phase::kWaiting;
  // The sender serving it now; none while it waits for one, pauses, or waits past the
  // grace for a gateway that is slow to connect or to answer.
  CNacHttpClientThread* sender = nullptr;
  int number = 0;  // the sender it last had, for the notes to the owner
  bool parked = false;  // a try going on without a sender

  Connection connection;
  // The request on the wire: header and body as sent, and how far.
  std::string outgoing;
  std::size_t headerSize = 0;
  std::size_t sent = 0;
  bool headerLogged = false;
  AnswerParser answer;
  std::uint32_t answerStep = 0;

  Time stepEnd{};    // connect, a stalled send, or one receive: 3 s each
  Time answerEnd{};  // the whole answer: 10 s from the request's last byte
  Time graceEnd{};   // how long a wait may hold a sender
  Time pauseEnd{};
  std::uint64_t timer = 0;  // the armed timer's token
};
