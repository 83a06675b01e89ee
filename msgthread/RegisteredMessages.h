#pragma once

#include <cstdint>

#include "platform/ThreadMessages.h"

// Every registered message of the service. Each identifier is registered by name during
// static initialisation; equal names give equal identifiers in every module, so a module
// may also register a name of its own and still meet these.
namespace msg {

inline const uint32_t WM_QUIT = platform::kQuitMessage;

namespace cmd {
inline const uint32_t WM_PROTOCOL_EXIT = platform::RegisterMessageName("VELNORCMD:WM_PROTOCOL_EXIT");
inline const uint32_t WM_PROTOCOL_RECV = platform::RegisterMessageName("VELNORCMD:WM_PROTOCOL_RECV");
}  // namespace cmd

namespace httpclient {
inline const uint32_t WM_HTTPCLIENT_ERROR = platform::RegisterMessageName("VELNORHTTPCLIENT:WM_HTTPCLIENT_ERROR");
inline const uint32_t WM_HTTPCLIENT_EXIT = platform::RegisterMessageName("VELNORHTTPCLIENT:WM_HTTPCLIENT_EXIT");
inline const uint32_t WM_HTTPCLIENT_SEND = platform::RegisterMessageName("VELNORHTTPCLIENT:WM_HTTPCLIENT_SEND");
inline const uint32_t WM_THREAD_ERROR = platform::RegisterMessageName("VELNORHTTPCLIENT:WM_THREAD_ERROR");
inline const uint32_t WM_THREAD_EXIT = platform::RegisterMessageName("VELNORHTTPCLIENT:WM_THREAD_EXIT");
}  // namespace httpclient

namespace keepalive {
inline const uint32_t WM_KEEPALIVE_ERROR = platform::RegisterMessageName("VELNORKEEPALIVE:WM_KEEPALIVE_ERROR");
inline const uint32_t WM_KEEPALIVE_EXIT = platform::RegisterMessageName("VELNORKEEPALIVE:WM_KEEPALIVE_EXIT");
inline const uint32_t WM_THREAD_ERROR = platform::RegisterMessageName("VELNORKEEPALIVE:WM_THREAD_ERROR");
inline const uint32_t WM_THREAD_EXIT = platform::RegisterMessageName("VELNORKEEPALIVE:WM_THREAD_EXIT");
inline const uint32_t WM_KEEPALIVE_START = platform::RegisterMessageName("VELNORKEEPALIVE:WM_KEEPALIVE_START");
inline const uint32_t WM_KEEPALIVE_STOP = platform::RegisterMessageName("VELNORKEEPALIVE:WM_KEEPALIVE_STOP");
}  // namespace keepalive

}  // namespace msg
