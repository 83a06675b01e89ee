#include "command/CommandReply.h"

#include <cstring>

#include "command/CommandHandler.h"
#include "support/SocketIo.h"

namespace {

thread_local FirstReplyCapture* capture = nullptr;

}  // namespace

void NoteReply(std::string_view text) {
  if (capture == nullptr || capture->seen_) return;
  capture->seen_ = true;
  capture->text_.assign(text.substr(0, text.find_first_of("\r\n")));
}

FirstReplyCapture::FirstReplyCapture() { capture = this; }
FirstReplyCapture::~FirstReplyCapture() { capture = nullptr; }

int SendReply(int socket, const char* text) {
  if (socket == kNoConnection) return 0;
  NoteReply(text);
  const int length = static_cast<int>(std::strlen(text));
  return SocketSendAll(socket, text, length) < 0 ? -1 : 0;
}

int SendReply(int socket, const std::string& text) {
  if (socket == kNoConnection) return 0;
  NoteReply(text);
  return SocketSendAll(socket, text.data(), static_cast<int>(text.size())) < 0 ? -1 : 0;
}

std::int32_t ReplyWith(int socket, const char* text, std::int32_t result) {
  return SendReply(socket, text) == 0 ? result : -1;
}
