#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Sends a reply text whole: 0, or -1 when the send failed (logged by the socket layer).
// Without a connection nothing is sent and the reply counts as sent.
[[nodiscard]] int SendReply(int socket, const char* text);
[[nodiscard]] int SendReply(int socket, const std::string& text);

// The handler result that goes with a reply: result when it was sent, else -1.
[[nodiscard]] std::int32_t ReplyWith(int socket, const char* text, std::int32_t result);

// The first reply sent on this thread while it lives: what the audit trail reports of a
// refused command. Captures do not nest.
class FirstReplyCapture {
 public:
  FirstReplyCapture();
  ~FirstReplyCapture();
  FirstReplyCapture(const FirstReplyCapture&) = delete;
  FirstReplyCapture& operator=(const FirstReplyCapture&) = delete;

  // Empty when nothing was sent.
  std::string_view Text() const { return text_; }

 private:
  friend void NoteReply(std::string_view text);
  std::string text_;
  bool seen_ = false;
};
