#include "command/CommandReply.h"

#include <cstring>

#include "command/CommandHandler.h"
#include "support/SocketIo.h"

int SendReply(int socket, const char* text) {
  if (socket == kNoConnection) return 0;
  const int length = static_cast<int>(std::strlen(text));
  return SocketSendAll(socket, text, length) < 0 ? -1 : 0;
}

int SendReply(int socket, const std::string& text) {
  if (socket == kNoConnection) return 0;
  return SocketSendAll(socket, text.data(), static_cast<int>(text.size())) < 0 ? -1 : 0;
}

std::int32_t ReplyWith(int socket, const char* text, std::int32_t result) {
  return SendReply(socket, text) == 0 ? result : -1;
}
