#include "support/SocketIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>

#include "platform/Socket.h"
#include "platform/SocketError.h"
#include "support/SocketErrorName.h"
#include "support/Syslog.h"

namespace {

constexpr int kRoomWaitMs = 100;

// The platform's calls re-arm the socket's event recording and never raise SIGPIPE. A
// signal that interrupts the call is a Linux matter, not a socket error: the call is made
// again.
ssize_t SendOnce(int socket, const char* bytes, std::size_t length) {
  ssize_t n;
  do {
    n = platform::SockSend(socket, bytes, length, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t RecvOnce(int socket, void* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = platform::SockRecv(socket, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

void LogSocketError(int error) {
  SyslogSend(3, "An error occurred. A cause is %s.", SocketErrorText(error).c_str());
}

}  // namespace

int SocketSendAll(int socket, const void* bytes, int length) {
  const char* data = static_cast<const char*>(bytes);
  const std::size_t total = length > 0 ? static_cast<std::size_t>(length) : 0;
  std::size_t sent = 0;
  do {
    const ssize_t n = SendOnce(socket, data + sent, total - sent);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    const int error = platform::LastSocketError();
    if (error != platform::kSockErrWouldBlock) {
      LogSocketError(error);
      return -1;
    }
    // Until the peer makes room the processor is given up: a client that stopped reading
    // must not keep a core busy. The retries themselves never stop; a socket shut down
    // from another thread ends the wait and makes the next send fail.
    pollfd writable{socket, POLLOUT, 0};
    ::poll(&writable, 1, kRoomWaitMs);
  } while (sent < total);
  return static_cast<int>(sent);
}

int SocketRecv(int socket, void* buffer, int size) {
  const ssize_t n = RecvOnce(socket, buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
  if (n < 0) {
    LogSocketError(platform::LastSocketError());
    return -1;
  }
  return static_cast<int>(n);
}

int SocketBytesAvailable(int socket, uint32_t* count) {
  int waiting = 0;
  if (::ioctl(socket, FIONREAD, &waiting) != 0) {
    LogSocketError(platform::LastSocketError());
    return -1;
  }
  *count = static_cast<uint32_t>(waiting);
  return 0;
}
