#include "platform/TcpListener.h"

#include <netinet/in.h>

#include <cerrno>

namespace platform {

UniqueSocket ListenTcp(const TcpListenOptions& options) {
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (options.nonBlocking ? SOCK_NONBLOCK : 0), 0));
  if (!socket) return socket;
  const int reuse = 1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(options.address);
  local.sin_port = htons(options.port);
  if (::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
      ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(socket.Get(), options.backlog) != 0) {
    const int error = errno;
    socket.Reset();
    errno = error;
  }
  return socket;
}

uint16_t LocalPort(int socket) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET) return 0;
  return ntohs(local.sin_port);
}

}  // namespace platform
