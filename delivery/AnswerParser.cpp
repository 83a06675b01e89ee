#include "delivery/AnswerParser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/DigitParse.h"
#include "support/TextScan.h"

namespace {

constexpr char kSkipSet[] = ": \t\r\n";

// The value text after a header name (empty when nothing follows it), or none when the
// name is not in the header.
const char* ValueOf(const char* header, const char* name) {
  const char* at = StrCaseStr(header, name);
  if (at == nullptr) return nullptr;
  const char* value = SpanChars(at + std::strlen(name), kSkipSet);
  return value != nullptr ? value : "";
}

}  // namespace

std::size_t AnswerParser::Feed(const char* data, std::size_t size) {
  std::size_t used = 0;
  try {
    while (used < size) {
      switch (phase_) {
        case Phase::kHeader:
          used += FeedLine(data + used, size - used, "\r\n\r\n");
          break;
        case Phase::kChunkLine:
          used += FeedLine(data + used, size - used, "\r\n");
          break;
        case Phase::kBody:
        case Phase::kChunkData:
          used += FeedBody(data + used, size - used);
          break;
        case Phase::kDone:
        case Phase::kFailed:
          return used;
      }
    }
  } catch (const std::bad_alloc&) {
    // One answer the host has no room for fails its try; the sender goes on.
    Fail(Failure::kNoMemory);
  }
  return used;
}

// A line ends after its terminator or at kHeaderSize bytes, whichever comes first.
std::size_t AnswerParser::FeedLine(const char* data, std::size_t size, const char* terminator) {
  const std::size_t terminatorLength = std::strlen(terminator);
  const std::size_t before = line_.size();
  const std::size_t take = std::min(size, kHeaderSize - before);
  line_.append(data, take);
  // The bytes kept so far hold no terminator: one can only end among the new ones.
  const std::size_t from = before >= terminatorLength - 1 ? before - (terminatorLength - 1) : 0;
  const std::size_t at = line_.find(terminator, from, terminatorLength);
  std::size_t used = take;
  if (at != std::string::npos) {
    line_.resize(at + terminatorLength);
    used = line_.size() - before;
  } else if (line_.size() < kHeaderSize) {
    return used;
  }
  if (phase_ == Phase::kHeader) {
    EndHeader();
  } else {
    EndChunkLine();
  }
  return used;
}

std::size_t AnswerParser::FeedBody(const char* data, std::size_t size) {
  const std::size_t take = std::min(size, remaining_);
  body_.append(data, take);
  remaining_ -= take;
  if (remaining_ == 0) {
    if (phase_ == Phase::kBody) {
      phase_ = Phase::kDone;
    } else {
      Begin(Phase::kChunkLine);
    }
  }
  return take;
}

// The header is read as a zero-terminated text: a zero byte in it ends the search for the
// status and the names there.
void AnswerParser::EndHeader() {
  const char* header = line_.c_str();
  const char* space = std::strchr(header, ' ');
  if (space == nullptr) return Fail(Failure::kNoStatus);
  const long status = std::strtol(space + 1, nullptr, 10);
  status_ = static_cast<int>(status < -1 ? -1 : status > 999999 ? 999999 : status);

  if (const char* length = ValueOf(header, "Content-Length")) {
    std::uint32_t size = 0;
    if (!ParseDecimal32Checked(length, &size) || size == 0) return Fail(Failure::kHeaderAbnormal);
    if (size > kMaxBody) return Fail(Failure::kTooLarge);
    remaining_ = size;
    return Begin(Phase::kBody);
  }
  if (const char* encoding = ValueOf(header, "Transfer-Encoding")) {
    if (StrCaseStr(encoding, "chunked") != nullptr) return Begin(Phase::kChunkLine);
  }
  phase_ = Phase::kDone;
}

void AnswerParser::EndChunkLine() {
  // The empty line after a chunk's data comes before the next size line.
  if (!IsHexDigit(line_[0])) return Begin(Phase::kChunkLine);
  const std::uint32_t size = ParseHex32(line_.c_str());
  if (size == 0) {
    phase_ = Phase::kDone;
    return;
  }
  // Refused on the claim, before any of its bytes is kept.
  if (size > kMaxBody - body_.size()) return Fail(Failure::kTooLarge);
  remaining_ = size;
  Begin(Phase::kChunkData);
}

void AnswerParser::Begin(Phase phase) {
  phase_ = phase;
  line_.clear();
  ++step_;
}

void AnswerParser::Fail(Failure failure) {
  phase_ = Phase::kFailed;
  failure_ = failure;
}

const char* AnswerParser::ReceptionFailureText() const {
  switch (phase_) {
    case Phase::kHeader:
      return "An error occurred at the time of the HTTP response header reception.";
    case Phase::kBody:
      return "An error occurred at the time of the HTTP response body reception.";
    case Phase::kChunkLine:
      return "I failed in the acquisition of chunk size.";
    case Phase::kChunkData:
      return "Abnormality occurred at the time of the chunk body reception.";
    case Phase::kDone:
    case Phase::kFailed:
      break;
  }
  return nullptr;
}

const char* AnswerParser::FailureText(Failure failure) {
  switch (failure) {
    case Failure::kNoStatus:
      return "There was not a response cord.";
    case Failure::kHeaderAbnormal:
      return "HTTP response header abnormality occurred.";
    case Failure::kNoMemory:
      return "I failed in allocation of memory.";
    case Failure::kNone:
    case Failure::kTooLarge:
      break;
  }
  return nullptr;
}
