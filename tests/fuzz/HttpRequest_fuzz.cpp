// Any bytes as what a connection to the gateway simulator receives, which the delivery
// tests take as the record of what the service sent. A request parsed whole claims no more
// than the bytes given, and they are its header and body as given; the same bytes arriving
// in two pieces, at any cut, give the same requests and the same end as in one piece.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gwsim/HttpRequest.h"
#include "tests/fuzz/FuzzFiles.h"

namespace {

using fuzz_files::Check;

// What a connection made of its bytes: every complete request in order, then how it ended.
struct Connection {
  std::vector<gwsim::HttpRequest> requests;
  bool malformed = false;
  std::string reason;
  std::string waiting;  // the bytes that wait for more

  // Takes more bytes as the simulator does: parse, drop what a request took, parse again.
  void Receive(std::string_view bytes) {
    if (malformed) return;
    waiting.append(bytes);
    for (;;) {
      gwsim::HttpRequest request;
      const gwsim::ParseOutcome outcome = gwsim::ParseHttpRequest(waiting, request);
      if (outcome.kind == gwsim::ParseOutcome::kNeedMore) return;
      if (outcome.kind == gwsim::ParseOutcome::kMalformed) {
        malformed = true;
        reason = outcome.reason;
        return;
      }
      Check(outcome.consumed > 0 && outcome.consumed <= waiting.size(), "a request claims bytes it was not given");
      Check(request.header + request.body == waiting.substr(0, outcome.consumed), "a request is not its bytes");
      Check(request.header.ends_with("\r\n\r\n") && request.header.size() <= gwsim::kMaxHeaderBytes &&
                request.body.size() <= gwsim::kMaxBodyBytes,
            "a request beyond its bounds");
      Check(!request.method.empty() && request.target.starts_with('/'), "a request without method or target");
      requests.push_back(request);
      waiting.erase(0, outcome.consumed);
    }
  }

  bool operator==(const Connection& other) const {
    if (requests.size() != other.requests.size() || malformed != other.malformed || reason != other.reason) {
      return false;
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const gwsim::HttpRequest &a = requests[i], &b = other.requests[i];
      if (a.header != b.header || a.body != b.body || a.method != b.method || a.target != b.target ||
          a.fields != b.fields) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Connection whole;
  whole.Receive(bytes);
  // Every cut of a short input, some spread over a long one, and those around the header limit.
  std::vector<std::size_t> cuts;
  for (std::size_t cut = 1; cut < size; cut += size <= 256 ? 1 : size / 64) cuts.push_back(cut);
  for (std::size_t cut = gwsim::kMaxHeaderBytes - 3; cut <= gwsim::kMaxHeaderBytes + 3; ++cut) {
    if (cut < size) cuts.push_back(cut);
  }
  for (const std::size_t cut : cuts) {
    Connection split;
    split.Receive(bytes.substr(0, cut));
    split.Receive(bytes.substr(cut));
    Check(split == whole, "two pieces gave other requests than one");
  }
  return 0;
}
