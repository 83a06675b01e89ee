#pragma once

#include <chrono>
#include <string>

namespace gwsim {

// How a simulated gateway misbehaves instead of answering.
enum class Fault {
  kNone,
  kRefuse,          // close right after reading the request, no answer
  kCloseMidAnswer,  // the status line and part of the headers, then close
  kGarbage,         // bytes that are no HTTP answer; the connection stays open
  kSilent,          // never answer; the connection stays open until the peer or Stop ends it
  kRaw,             // send Behaviour::raw exactly, instead of an answer; the connection stays open
  kTrickle,         // a chunked answer's header, then one blank line every Behaviour::trickleEvery, for ever
  kEndless,         // a chunked answer whose data chunks keep coming and never reach the last chunk
};

// What a simulated gateway answers. The word and status answer a request that was authorized
// and addressed to the ACL page (the others get 401, 404 or 405); framing, delay and fault
// apply to every complete request, the delay before whatever is sent. A malformed request is
// answered 400 and closed regardless. An answer that never ends (kTrickle, kEndless) holds its
// connection until Stop or until the peer closes it.
struct Behaviour {
  std::string word = "ok";
  int status = 200;
  bool chunked = false;  // else Content-Length
  std::chrono::milliseconds delay{0};
  Fault fault = Fault::kNone;
  std::string raw{};
  std::chrono::milliseconds trickleEvery{2000};

  bool operator==(const Behaviour&) const = default;
};

}  // namespace gwsim
