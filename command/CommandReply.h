#pragma once

#include <cstdint>
#include <string>

// Sends a reply text whole: 0, or -1 when the send failed (logged by the socket layer).
// Without a connection nothing is sent and the reply counts as sent.
[[nodiscard]] int SendReply(int socket, const char* text);
[[nodiscard]] int SendReply(int socket, const std::string& text);

// The handler result that goes with a reply: result when it was sent, else -1.
[[nodiscard]] std::int32_t ReplyWith(int socket, const char* text, std::int32_t result);
