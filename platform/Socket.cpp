#include "platform/Socket.h"

#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SocketEvent.h"

namespace platform {

ssize_t SockRecv(int fd, void* buf, std::size_t len, int flags) {
  ssize_t n;
  while ((n = recv(fd, buf, len, flags)) < 0 && errno == EINTR) {
  }
  const int err = n < 0 ? errno : 0;
  detail::NoteReceive(fd, err);
  if (n < 0) errno = err;
  return n;
}

ssize_t SockSend(int fd, const void* buf, std::size_t len, int flags) {
  ssize_t n;
  while ((n = send(fd, buf, len, flags | MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (n >= 0) return n;
  const int err = errno;
  detail::NoteSend(fd, err);
  errno = err;
  return n;
}

int SockAccept(int listenFd, sockaddr* addr, socklen_t* addrLen) {
  const int flags = SOCK_CLOEXEC | (detail::IsSelected(listenFd) ? SOCK_NONBLOCK : 0);
  int fd;
  while ((fd = accept4(listenFd, addr, addrLen, flags)) < 0 && errno == EINTR) {
  }
  const int err = errno;
  detail::NoteAccept(listenFd);
  if (fd < 0) errno = err;
  return fd;
}

int SockConnect(int fd, const sockaddr* addr, socklen_t addrLen) {
  const int rc = connect(fd, addr, addrLen);
  const int err = rc < 0 ? errno : 0;
  // An interrupted connect goes on in the background, as one under way does.
  detail::NoteConnect(fd, err == EINTR ? EINPROGRESS : err);
  if (rc < 0) errno = err;
  return rc;
}

int CloseSocket(int fd) {
  detail::NoteClose(fd);
  return close(fd);
}

bool IsSocket(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool PeerIsLoopback(int fd) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
         peer.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
}

}  // namespace platform
