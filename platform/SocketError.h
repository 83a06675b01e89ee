#pragma once

namespace platform {

// The Windows Sockets number of a send or receive that would block (WSAEWOULDBLOCK).
inline constexpr int kSockErrWouldBlock = 10035;

// The Windows Sockets number that means the same as the Linux errno value; the one table
// that maps between the two. An errno value without a counterpart gives -errno, which no
// Windows Sockets name carries, so the caller can still show the Linux error.
int SocketErrorFromErrno(int err);

// SocketErrorFromErrno(errno): the WSAGetLastError of this platform.
int LastSocketError();

}  // namespace platform
