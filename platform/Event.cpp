#include "platform/Event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

std::optional<Event> Event::Create(EventReset reset, bool initiallySignalled) {
  UniqueFd fd(eventfd(initiallySignalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!fd) return std::nullopt;
  return Event(std::move(fd), reset);
}

bool Event::Set() {
  const uint64_t one = 1;
  for (;;) {
    if (write(fd_.Get(), &one, sizeof one) == static_cast<ssize_t>(sizeof one)) return true;
    if (errno != EINTR) return false;
  }
}

bool Event::Reset() {
  uint64_t value = 0;
  for (;;) {
    if (read(fd_.Get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
    if (errno == EAGAIN) return true;  // was not signalled
    if (errno != EINTR) return false;
  }
}

bool Event::IsSignalled() const {
  pollfd pfd{fd_.Get(), POLLIN, 0};
  int rc;
  while ((rc = poll(&pfd, 1, 0)) < 0 && errno == EINTR) {
  }
  return rc > 0 && (pfd.revents & POLLIN) != 0;
}

bool Event::PrepareWait(std::vector<pollfd>& fds, detail::WaitSlot& slot, int wakeFd) {
  (void)slot;
  (void)wakeFd;
  fds.push_back(pollfd{fd_.Get(), POLLIN, 0});
  return false;
}

bool Event::TryTake(std::span<const pollfd> fds, detail::WaitSlot& slot) {
  (void)slot;
  if (fds.empty() || (fds[0].revents & POLLIN) == 0) return false;
  if (reset_ == EventReset::kManual) return true;
  // Of several threads woken by one Set, only the one whose read succeeds has it; the
  // others find the counter empty and wait on.
  uint64_t value = 0;
  for (;;) {
    if (read(fd_.Get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace platform
