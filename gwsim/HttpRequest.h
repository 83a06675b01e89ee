#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gwsim {

inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;

// One HTTP/1.x request as it arrived: the header block byte for byte (request line to the
// empty line) and the body, with the request line and fields taken apart.
struct HttpRequest {
  std::string header;
  std::string body;
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> fields;  // name, value without surrounding blanks

  // The value of the first field of this name (compared without regard to case).
  std::optional<std::string_view> Field(std::string_view name) const;
  // The target without its query.
  std::string_view Path() const;
  // Whether the client asked to close the connection after the answer.
  bool WantsClose() const;
};

struct ParseOutcome {
  enum Kind { kNeedMore, kComplete, kMalformed } kind = kNeedMore;
  std::size_t consumed = 0;  // kComplete: the bytes of this request at the front of the input
  std::string reason;        // kMalformed: why, for the 400 answer
};

// Parses the request at the front of input (bytes received so far on a connection, perhaps
// more than one request). A request needs a Content-Length unless its method carries no
// body; chunked requests are not taken.
ParseOutcome ParseHttpRequest(std::string_view input, HttpRequest& request);

}  // namespace gwsim
