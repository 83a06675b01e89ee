#pragma once

#include <cstddef>
#include <string>

// Reading a gateway's answer to one request: the header up to its empty line, the status,
// then the body by Content-Length or in chunks. The bytes come from an AnswerSource, so
// that the same reading runs on a socket and on a buffer.

class AnswerSource {
 public:
  // Appends received bytes to buffer until it holds size bytes more, or until terminator
  // (when given) ends it. The count appended, or -1 on an error, a time-out, a closed
  // connection or a stop.
  virtual int RecvUntil(std::string& buffer, std::size_t size, const char* terminator) = 0;
  // Whether a stop ended the reading: its failures are not worth a log line.
  virtual bool Stopped() const = 0;

 protected:
  ~AnswerSource() = default;
};

struct GatewayAnswer {
  int status = 0;
  // Empty when a status-200 answer says neither a length nor chunks: no body is read then.
  std::string body;
};

// Reads one answer. False when it could not be read whole (the try failed); the failure is
// logged at priority 7 unless a stop caused it, at 2 when memory ran out. Nothing is
// allocated beyond what the gateway actually sent, whatever length it claims.
bool ReadAnswer(AnswerSource& source, GatewayAnswer& answer);
