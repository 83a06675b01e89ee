#include "support/SocketIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/SocketError.h"
#include "support/SocketErrorName.h"
#include "support/Syslog.h"

namespace {

constexpr std::uint32_t kRoomWaitMs = 100;

thread_local std::uint32_t tStallLimitMs = 0;
thread_local bool tStalled = false;

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
  // Measured on the real clock: the waits below run there.
  std::uint32_t movedMs = platform::RealClock().NowMs();
  do {
    const ssize_t n = SendOnce(socket, data + sent, total - sent);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      movedMs = platform::RealClock().NowMs();
      continue;
    }
    const int error = platform::LastSocketError();
    if (error != platform::kSockErrWouldBlock) {
      LogSocketError(error);
      return -1;
    }
    // Until the peer makes room the processor is given up: a client that stopped reading
    // must not keep a core busy. A socket shut down from another thread ends the wait and
    // makes the next send fail.
    std::uint32_t waitMs = kRoomWaitMs;
    if (tStallLimitMs != 0) {
      const std::uint32_t stillMs = platform::RealClock().NowMs() - movedMs;
      if (stillMs >= tStallLimitMs) {
        tStalled = true;
        return -1;
      }
      waitMs = std::min(waitMs, tStallLimitMs - stillMs);
    }
    pollfd writable{socket, POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(waitMs));
  } while (sent < total);
  return static_cast<int>(sent);
}

SendStallLimit::SendStallLimit(std::uint32_t milliseconds) : previous_(tStallLimitMs) {
  tStallLimitMs = milliseconds;
  tStalled = false;
}

SendStallLimit::~SendStallLimit() { tStallLimitMs = previous_; }

bool SocketSendStalled() { return tStalled; }

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
