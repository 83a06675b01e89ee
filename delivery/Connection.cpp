#include "delivery/Connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

bool Connection::Open(int epoll, std::uint64_t tag, std::uint32_t address, std::uint16_t port) {
  Close();
  socket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_) return false;
  epoll_ = epoll;
  tag_ = tag;
  // Header and body go out before the answer is read: with Nagle the body would wait for
  // the gateway's delayed acknowledgement of the header, 40 ms a request.
  const int noDelay = 1;
  (void)::setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    socket_.Reset();
    return false;
  }
  epoll_event event{};
  event.events = EPOLLOUT;
  event.data.u64 = tag_;
  if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket_.Get(), &event) != 0) {
    socket_.Reset();
    return false;
  }
  return true;
}

bool Connection::Connected() const {
  int error = 0;
  socklen_t length = sizeof error;
  return ::getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

void Connection::WatchReading() { Watch(EPOLLIN | EPOLLRDHUP); }
void Connection::WatchWriting() { Watch(EPOLLOUT); }

void Connection::Watch(std::uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = tag_;
  (void)::epoll_ctl(epoll_, EPOLL_CTL_MOD, socket_.Get(), &event);
}

long Connection::Write(const char* bytes, std::size_t size) {
  for (;;) {
    const ssize_t written = ::send(socket_.Get(), bytes, size, MSG_NOSIGNAL);
    if (written >= 0) return written;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

long Connection::Peek(char* buffer, std::size_t size) {
  peekFailed_ = false;
  for (;;) {
    const ssize_t peeked = ::recv(socket_.Get(), buffer, size, MSG_PEEK);
    if (peeked >= 0) return peeked;
    if (errno == EINTR) continue;
    peekFailed_ = errno != EAGAIN && errno != EWOULDBLOCK;
    return -1;
  }
}

bool Connection::Consume(std::size_t size) {
  char sink[4096];
  while (size > 0) {
    const ssize_t taken = ::recv(socket_.Get(), sink, size < sizeof sink ? size : sizeof sink, 0);
    if (taken < 0 && errno == EINTR) continue;
    if (taken <= 0) return false;
    size -= static_cast<std::size_t>(taken);
  }
  return true;
}

void Connection::Close() {
  if (!socket_) return;
  if (awaiting_) {
    const linger reset{1, 0};
    (void)::setsockopt(socket_.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  // Closing the descriptor takes it out of the epoll set too.
  socket_.Reset();
  awaiting_ = false;
}
