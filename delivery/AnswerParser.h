#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One gateway answer read from the bytes a socket holds, in whatever pieces they come: the
// header up to its empty line (or its first 4096 bytes), the status, then the body by
// Content-Length or in chunks. The sender peeks at the socket, feeds what it sees and then
// receives only the bytes taken, so nothing of a following answer leaves the socket.
//
// Memory stays bounded whatever the gateway sends: 4096 bytes of header or chunk line, and
// a body of at most kMaxBody bytes; a longer one fails before it is kept.
class AnswerParser {
 public:
  static constexpr std::size_t kHeaderSize = 4096;
  static constexpr std::size_t kMaxBody = 65536;

  enum class Failure {
    kNone,
    kNoStatus,         // no space in the header
    kHeaderAbnormal,   // a Content-Length that is empty, 0 or past 32 bits
    kTooLarge,         // a body, by length or all chunks together, over kMaxBody
    kNoMemory,         // the host had no room for the bytes kept
  };

  // Takes bytes in any split and gives how many of them belong to this answer: all of them
  // until the answer ends or fails, fewer only then, none after. Never reads past size.
  std::size_t Feed(const char* data, std::size_t size);

  [[nodiscard]] bool Done() const { return phase_ == Phase::kDone; }
  [[nodiscard]] bool Failed() const { return phase_ == Phase::kFailed; }
  Failure failure() const { return failure_; }

  // The status once the header is in (0 before, and when the header has no space).
  int Status() const { return status_; }
  // Empty when the answer says neither a length nor chunks: no body is read then.
  const std::string& Body() const { return body_; }

  // The line to log when the connection closes, errs or times out now: it names what was
  // being received. None once the answer is done or has failed.
  const char* ReceptionFailureText() const;

  // Counts the bounded receives begun so far (the header is 0; then the body, each chunk
  // line and each chunk's data): the sender restarts its receive bound when it changes.
  std::uint32_t Step() const { return step_; }

  // The line of a failure whose text is fixed; none for kNone and for kTooLarge, which the
  // sender words with the gateway's name.
  static const char* FailureText(Failure failure);

 private:
  enum class Phase { kHeader, kBody, kChunkLine, kChunkData, kDone, kFailed };

  std::size_t FeedLine(const char* data, std::size_t size, const char* terminator);
  std::size_t FeedBody(const char* data, std::size_t size);
  void EndHeader();
  void EndChunkLine();
  void Begin(Phase phase);
  void Fail(Failure failure);

  Phase phase_ = Phase::kHeader;
  Failure failure_ = Failure::kNone;
  int status_ = 0;
  std::uint32_t step_ = 0;
  // The header, then each chunk line: cleared for each line, never over kHeaderSize.
  std::string line_;
  std::string body_;
  // Body bytes still to come for the length or the chunk being read.
  std::size_t remaining_ = 0;
};
