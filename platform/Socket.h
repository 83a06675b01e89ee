#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>

namespace platform {

// The socket calls of the service. They behave as the plain calls do (same results, errno
// set on failure; LastSocketError gives the Windows Sockets number) and, for a socket
// selected on a SocketEvent, re-arm the events the call makes possible again.

// recv. Re-arms FD_READ and FD_OOB, whatever the result.
[[nodiscard]] ssize_t SockRecv(int fd, void* buf, std::size_t len, int flags);

// send, never raising SIGPIPE. A send that would block re-arms FD_WRITE.
[[nodiscard]] ssize_t SockSend(int fd, const void* buf, std::size_t len, int flags);

// accept. The new socket is close-on-exec, and non-blocking when the listener is selected
// (as the listener is then). Re-arms the listener's FD_ACCEPT, whatever the result.
[[nodiscard]] int SockAccept(int listenFd, sockaddr* addr, socklen_t* addrLen);

// connect. On a selected socket, a connect under way (-1, EINPROGRESS) is reported by
// FD_CONNECT when it completes; one that completes at once records FD_CONNECT (and
// FD_WRITE) straight away.
[[nodiscard]] int SockConnect(int fd, const sockaddr* addr, socklen_t addrLen);

// closesocket: ends the socket's selection, then closes it.
[[nodiscard]] int CloseSocket(int fd);

// Whether fd is an open socket.
bool IsSocket(int fd);

// Whether the peer of a connected socket is 127.0.0.1, the one host let in while remote
// access is off.
bool PeerIsLoopback(int fd);

}  // namespace platform
