#pragma once

#include <string>
#include <string_view>

namespace gwsim {

// The bytes of an HTTP/1.1 answer carrying body, framed by Content-Length or as one chunk
// and the last chunk. extraFields are whole header lines, each ended by CR LF.
std::string HttpAnswer(int status, std::string_view body, bool chunked, std::string_view extraFields = {});

// The status line and the first bytes of the next header line of an answer: what a gateway
// that dies while answering leaves behind.
std::string TruncatedAnswer(const std::string& answer);

// Bytes that no HTTP client can take for an answer: no status line, no space, yet a blank
// line, so that a client reading up to the blank line finishes at once.
inline constexpr std::string_view kGarbageAnswer = "\x16\x03\x01garbage\x01\x02\x03\r\n\r\n";

}  // namespace gwsim
