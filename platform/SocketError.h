#pragma once

namespace platform {

// Windows Sockets error numbers used by the service.
inline constexpr int kSockErrWouldBlock = 10035;
inline constexpr int kSockErrInProgress = 10036;
inline constexpr int kSockErrNotSock = 10038;
inline constexpr int kSockErrConnAborted = 10053;
inline constexpr int kSockErrConnReset = 10054;
inline constexpr int kSockErrTimedOut = 10060;
inline constexpr int kSockErrConnRefused = 10061;

// The Windows Sockets number that means the same as the Linux errno value; the one table
// that maps between the two. An errno value without a counterpart gives -errno, which no
// Windows Sockets name carries, so the caller can still show the Linux error.
int SocketErrorFromErrno(int err);

// SocketErrorFromErrno(errno): the WSAGetLastError of this platform.
int LastSocketError();

}  // namespace platform
