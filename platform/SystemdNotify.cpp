#include "platform/SystemdNotify.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/UniqueFd.h"

namespace platform {

bool RunningUnderSystemd() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  return path != nullptr && (path[0] == '/' || path[0] == '@');
}

bool NotifySystemd(const char* state) {
  if (!RunningUnderSystemd()) return false;
  const char* path = std::getenv("NOTIFY_SOCKET");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(path);
  if (length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const std::size_t stateLength = std::strlen(state);
  return ::sendto(fd.Get(), state, stateLength, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), size) ==
         static_cast<ssize_t>(stateLength);
}

}  // namespace platform
