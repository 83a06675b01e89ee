#pragma once

#include <functional>

#include "platform/Thread.h"
#include "platform/UniqueFd.h"

namespace platform {

// Sets the signals that the service has no use for to be ignored, where by default they
// would end the process: SIGPIPE (a console's stdout or stderr on a pipe whose reader went
// away; such writes then fail and the lines are lost), SIGUSR1, SIGUSR2, SIGALRM and
// SIGVTALRM. Call it first in main, before any thread starts, so every thread inherits it.
void IgnoreUnusedSignals();

// The service's stop control on Linux: SIGTERM and SIGINT run onStop on a thread of this
// object (never in a signal handler); SIGHUP is taken and ignored, as pause and continue
// are. Construct it on the main thread before any other thread starts, so that every
// thread inherits the blocked signals.
class StopSignals {
 public:
  explicit StopSignals(std::function<void()> onStop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the signals could not be taken (the handler is not installed).
  bool Installed() const { return installed_; }

 private:
  void Loop();

  std::function<void()> onStop_;
  UniqueFd signals_;
  UniqueFd wake_;
  bool installed_ = false;
  Thread thread_;
};

}  // namespace platform
