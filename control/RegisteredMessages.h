#pragma once

#include <cstdint>

#include "platform/ThreadMessages.h"

// Every registered message of the service. Each identifier is registered by name during
// static initialisation; equal names give equal identifiers in every module, so a module
// may also register a name of its own and still meet these.
namespace msg {

inline const uint32_t WM_QUIT = platform::WM_QUIT;

namespace cmd {
inline const uint32_t WM_PROTOCOL_ERROR = platform::RegisterWindowMessage("VELNORCMD:WM_PROTOCOL_ERROR");
inline const uint32_t WM_PROTOCOL_EXIT = platform::RegisterWindowMessage("VELNORCMD:WM_PROTOCOL_EXIT");
inline const uint32_t WM_PROTOCOL_CONNECT = platform::RegisterWindowMessage("VELNORCMD:WM_PROTOCOL_CONNECT");
inline const uint32_t WM_PROTOCOL_SEND = platform::RegisterWindowMessage("VELNORCMD:WM_PROTOCOL_SEND");
inline const uint32_t WM_PROTOCOL_RECV = platform::RegisterWindowMessage("VELNORCMD:WM_PROTOCOL_RECV");
inline const uint32_t WM_SERVER_ERROR = platform::RegisterWindowMessage("VELNORCMD:WM_SERVER_ERROR");
inline const uint32_t WM_SERVER_EXIT = platform::RegisterWindowMessage("VELNORCMD:WM_SERVER_EXIT");
}  // namespace cmd

namespace httpclient {
inline const uint32_t WM_HTTPCLIENT_ERROR = platform::RegisterWindowMessage("VELNORHTTPCLIENT:WM_HTTPCLIENT_ERROR");
inline const uint32_t WM_HTTPCLIENT_EXIT = platform::RegisterWindowMessage("VELNORHTTPCLIENT:WM_HTTPCLIENT_EXIT");
inline const uint32_t WM_HTTPCLIENT_SEND = platform::RegisterWindowMessage("VELNORHTTPCLIENT:WM_HTTPCLIENT_SEND");
inline const uint32_t WM_THREAD_ERROR = platform::RegisterWindowMessage("VELNORHTTPCLIENT:WM_THREAD_ERROR");
inline const uint32_t WM_THREAD_EXIT = platform::RegisterWindowMessage("VELNORHTTPCLIENT:WM_THREAD_EXIT");
}  // namespace httpclient

namespace keepalive {
inline const uint32_t WM_KEEPALIVE_ERROR = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_KEEPALIVE_ERROR");
inline const uint32_t WM_KEEPALIVE_EXIT = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_KEEPALIVE_EXIT");
inline const uint32_t WM_THREAD_ERROR = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_THREAD_ERROR");
inline const uint32_t WM_THREAD_EXIT = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_THREAD_EXIT");
inline const uint32_t WM_KEEPALIVE_START = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_KEEPALIVE_START");
inline const uint32_t WM_KEEPALIVE_STOP = platform::RegisterWindowMessage("VELNORKEEPALIVE:WM_KEEPALIVE_STOP");
}  // namespace keepalive

}  // namespace msg
