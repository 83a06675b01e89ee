#include "delivery/AnswerReader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "support/DigitParse.h"
#include "support/Syslog.h"
#include "support/TextScan.h"

namespace {

constexpr std::size_t kHeaderSize = 4096;
constexpr char kSkipSet[] = ": \t\r\n";

// Logs a failure of the reading unless a stop caused it; always false.
bool Failed(const AnswerSource& source, const char* text) {
  if (!source.Stopped()) SyslogSend(7, "%s", text);
  return false;
}

// The value text after a header name (empty when nothing follows it), or none when the
// name is not in the header.
const char* ValueOf(const std::string& header, const char* name) {
  const char* at = StrCaseStr(header.c_str(), name);
  if (at == nullptr) return nullptr;
  const char* value = SpanChars(at + std::strlen(name), kSkipSet);
  return value != nullptr ? value : "";
}

bool ReadChunks(AnswerSource& source, std::string& body) {
  std::string line;
  for (;;) {
    if (source.Stopped()) return false;
    line.clear();
    if (source.RecvUntil(line, kHeaderSize, "\r\n") < 0) return Failed(source, "I failed in the acquisition of chunk size.");
    // The empty line after a chunk's data comes before the next size line.
    if (!IsHexDigit(line[0])) continue;
    const std::uint32_t size = ParseHex32(line.c_str());
    if (size == 0) return true;
    // The body grows only by what arrives: a claimed size costs nothing until it is sent.
    if (source.RecvUntil(body, size, nullptr) < 0) {
      return Failed(source, "Abnormality occurred at the time of the chunk body reception.");
    }
  }
}

bool ReadWhole(AnswerSource& source, GatewayAnswer& answer) {
  std::string header;
  if (source.RecvUntil(header, kHeaderSize, "\r\n\r\n") < 0) {
    return Failed(source, "An error occurred at the time of the HTTP response header reception.");
  }
  const char* space = std::strchr(header.c_str(), ' ');
  if (space == nullptr) return Failed(source, "There was not a response cord.");
  const long status = std::strtol(space + 1, nullptr, 10);
  answer.status = static_cast<int>(status < -1 ? -1 : status > 999999 ? 999999 : status);

  if (const char* length = ValueOf(header, "Content-Length")) {
    const std::uint32_t size = *length == '\0' ? 0 : ParseDecimal32(length);
    if (size == 0) return Failed(source, "HTTP response header abnormality occurred.");
    if (source.RecvUntil(answer.body, size, nullptr) < 0) {
      return Failed(source, "An error occurred at the time of the HTTP response body reception.");
    }
    return true;
  }
  if (const char* encoding = ValueOf(header, "Transfer-Encoding")) {
    if (StrCaseStr(encoding, "chunked") != nullptr) return ReadChunks(source, answer.body);
  }
  return true;
}

}  // namespace

bool ReadAnswer(AnswerSource& source, GatewayAnswer& answer) {
  answer = GatewayAnswer{};
  try {
    return ReadWhole(source, answer);
  } catch (const std::bad_alloc&) {
    // A body the host has no room for fails this try; the sender and the service go on.
    SyslogSend(2, "I failed in allocation of memory.");
    return false;
  }
}
