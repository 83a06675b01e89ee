#pragma once

#include <unistd.h>

#include <utility>

#include "platform/Socket.h"

namespace platform {

// Owns one file descriptor and closes it with Close on destruction. Move-only, so no error
// path can leak or double-close an fd.
template <int (*Close)(int)>
class BasicUniqueFd {
 public:
  BasicUniqueFd() = default;
  explicit BasicUniqueFd(int fd) : fd_(fd) {}
  BasicUniqueFd(const BasicUniqueFd&) = delete;
  BasicUniqueFd& operator=(const BasicUniqueFd&) = delete;
  BasicUniqueFd(BasicUniqueFd&& other) noexcept : fd_(other.Release()) {}
  BasicUniqueFd& operator=(BasicUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~BasicUniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }

  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    // The descriptor is released whatever close reports.
    if (fd_ >= 0) (void)Close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Files, eventfds, signalfds: anything that is not a socket.
using UniqueFd = BasicUniqueFd<::close>;

// Every socket. A socket may be selected on a SocketEvent, and then only CloseSocket ends
// the selection: with a plain close the next socket given the same number would re-arm the
// old object.
using UniqueSocket = BasicUniqueFd<CloseSocket>;

}  // namespace platform
