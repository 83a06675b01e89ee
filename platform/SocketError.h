#pragma once

namespace platform {

// Windows Sockets error numbers used by the service.
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;

// The Windows Sockets number that means the same as the Linux errno value; the one table
// that maps between the two. An errno value without a counterpart gives -errno, which no
// Windows Sockets name carries, so the caller can still show the Linux error.
int WsaErrorFromErrno(int err);

// WsaErrorFromErrno(errno): the WSAGetLastError of this platform.
int LastSocketError();

}  // namespace platform
