#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Mutex.h"
#include "platform/Registration.h"
#include "platform/SystemLog.h"
#include "platform/SystemdUnits.h"

class CNacControl;

// The process: installer of its service and the service itself. One instance.
//
// Threads: the main thread runs Main and waits; Run runs on a thread of its own; the stop
// control (OnStop) comes on the signal thread. OnStop only sets the controller's end flag
// and posts one message; Run owns the controller.
class CServiceHost {
 public:
  CServiceHost();

  // The process entry: a registration switch, or the start of the service. Returns the
  // process's exit status.
  int Main(int argc, char** argv);

  // The service body; returns 0 in every case.
  int Run();
  // Reaction to the stop control.
  void OnStop();

  [[nodiscard]] bool Install();
  [[nodiscard]] bool Uninstall();

  void LogEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Service states as the service control manager numbers them.
  enum State : int { kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4 };
  int CurrentState() const { return state_.load(); }

 private:
  int Register(bool asService);
  int Start();
  int ServiceMain();
  int RunOnThread();
  void SetServiceStatus(int state);
  void ReportFailure(const char* text) const;
  // A refused start: another process holds the working directory.
  void ReportInUse(pid_t holder);
  void OpenLog();

  const std::string serviceName_;
  platform::SystemLog eventLog_;
  platform::Registration registration_;
  platform::SystemdUnits manager_;
  bool serviceMode_ = true;

  // The stop control reports stop pending on the signal thread while Run may be reporting
  // running: one report at a time, each state with its own notification.
  platform::Mutex statusMutex_;
  std::atomic<int> state_{kStopped};

  // The controller's end flag: the stop control sets it even while the controller is
  // still being built, so that a long start ends early.
  std::atomic<int> endFlag_{0};
  platform::Mutex controllerMutex_;
  CNacControl* controller_ VELNOR_GUARDED_BY(controllerMutex_) = nullptr;  // owned by Run
  bool stopDemanded_ VELNOR_GUARDED_BY(controllerMutex_) = false;
  int exitStatus_ = 0;                 // written by Run before its thread ends
};
