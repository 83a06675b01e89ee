#include "platform/StopSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

void IgnoreUnusedSignals() {
  for (const int unused : {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM}) ::signal(unused, SIG_IGN);
}

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  signals_.Reset(signalfd(-1, &set, SFD_CLOEXEC));
  wake_.Reset(eventfd(0, EFD_CLOEXEC));
  if (!signals_ || !wake_) return;
  try {
    thread_ = Thread([this] { Loop(); });
  } catch (...) {
    return;
  }
  installed_ = true;
}

StopSignals::~StopSignals() {
  if (thread_.Joinable()) {
    const uint64_t one = 1;
    (void)!::write(wake_.Get(), &one, sizeof one);
    thread_.Join();
  }
}

void StopSignals::Loop() {
  for (;;) {
    pollfd fds[2] = {{signals_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    signalfd_siginfo info{};
    if (::read(signals_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) onStop_();
  }
}

}  // namespace platform
