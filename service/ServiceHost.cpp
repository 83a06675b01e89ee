#include "service/ServiceHost.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "control/InstanceFiles.h"
#include "control/NacControl.h"
#include "support/Settings.h"
#include "platform/InstanceLock.h"
#include "platform/StopSignals.h"
#include "platform/SystemdNotify.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"
#include "service/CommandLine.h"
#include "service/DescriptorBudget.h"
#include "support/AdminReport.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr char kServiceName[] = "Velnor";
constexpr char kAppId[] = "{4C1E7A92-3B5D-4F08-9A6E-2D7C81F0B543}";
constexpr char kProgramEntry[] = "Velnor.EXE";

constexpr int kSocketApiMajor = 2;
constexpr int kSocketApiMinor = 2;
constexpr int kLogOption = 32;
constexpr int kLogFacilityDaemon = 24;

}  // namespace

CServiceHost::CServiceHost()
    : serviceName_(kServiceName),
      eventLog_(kServiceName),
      registration_(platform::kRegistrationFile, kAppId, kProgramEntry) {}

void CServiceHost::LogEvent(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (!serviceMode_) {
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
  eventLog_.Report(text);
}

void CServiceHost::ReportFailure(const char* text) const {
  std::fprintf(stderr, "%s: %s\n", serviceName_.c_str(), text);
}

void CServiceHost::SetServiceStatus(int state) {
  platform::MutexLock lock(statusMutex_);
  // A stop that came first wins: systemd is not told "running" after "stopping".
  if (state == kRunning && state_.load() == kStopPending) return;
  state_.store(state);
  if (!serviceMode_) return;
  const char* notice = state == kRunning ? "READY=1" : state == kStopPending ? "STOPPING=1" : nullptr;
  if (notice != nullptr && !platform::NotifySystemd(notice)) LogEvent("I failed in telling systemd %s.", notice);
}

int CServiceHost::Main(int argc, char** argv) {
  LogEvent("WinMain of a module was called.");
  switch (FindServiceSwitch(JoinArguments(argc, argv))) {
    case ServiceSwitch::kUnregServer:
      if (!Uninstall()) return 1;
      return registration_.Remove() ? 0 : 1;
    case ServiceSwitch::kRegServer:
      return Register(false);
    case ServiceSwitch::kService:
      return Register(true);
    case ServiceSwitch::kNone:
      break;
  }
  return Start();
}

int CServiceHost::Register(bool asService) {
  if (!Uninstall()) return 1;
  const std::optional<std::string> localService =
      asService ? std::optional<std::string>(serviceName_) : std::nullopt;
  if (!registration_.Write(serviceName_, localService)) {
    std::fprintf(stderr, "%s: The registration cannot be written to %s.\n", serviceName_.c_str(),
                 platform::kRegistrationFile);
    return 1;
  }
  if (asService && !Install()) return 1;
  return 0;
}

int CServiceHost::Start() {
  const std::optional<std::string> localService = registration_.ReadLocalService();
  if (!localService) {
    std::error_code ignored;
    std::fprintf(stderr,
                 "%s: The registration key cannot be opened: %s in %s holds no registration. "
                 "Register first with -RegServer (console) or -Service (systemd service).\n",
                 serviceName_.c_str(), platform::kRegistrationFile, std::filesystem::current_path(ignored).c_str());
    return 1;
  }
  serviceMode_ = !localService->empty();
  if (serviceMode_ && !platform::RunningUnderSystemd()) {
    std::fprintf(stderr,
                 "%s: The service process could not connect to the service controller: service mode "
                 "runs only under systemd (NOTIFY_SOCKET is not set). Start it with systemctl start "
                 "velnor, or register with -RegServer to run in the foreground.\n",
                 serviceName_.c_str());
    return 1;
  }
  // Taken before Run says "Service started" and before the controller loads a registry: a
  // second instance in this directory ends having done nothing, where it would otherwise
  // reset every gateway from the files and, once the first stops, serve stale registries.
  const platform::InstanceLock lock(platform::kInstanceLockFile);
  if (lock.Result() == platform::InstanceLock::Outcome::kInUse) {
    ReportInUse(lock.Holder());
    return 1;
  }
  if (lock.Result() == platform::InstanceLock::Outcome::kUnavailable) {
    OpenLog();
    ::ReportFailure(4, "I could not lock %s (%s): nothing keeps a second instance out of this directory.",
                    platform::kInstanceLockFile, std::strerror(lock.Error()));
  }
  return ServiceMain();
}

void CServiceHost::ReportInUse(pid_t holder) {
  OpenLog();
  std::error_code ignored;
  const std::string directory = std::filesystem::current_path(ignored).string();
  const std::string by = holder > 0 ? " by process " + std::to_string(holder) : "";
  ::ReportFailure(3, "The working directory %s is in use%s, another instance of the service; this one stops.",
                  directory.c_str(), by.c_str());
  CloseSyslog();
}

void CServiceHost::OpenLog() {
  SetLogThreshold(settings::LogThreshold());
  OpenSyslog(serviceName_.c_str(), kLogOption, kLogFacilityDaemon);
}

int CServiceHost::ServiceMain() {
  SetServiceStatus(kStartPending);
  // The stop control: the signals are blocked here, before any other thread starts.
  platform::StopSignals stopControl([this] { OnStop(); });
  if (!stopControl.Installed()) {
    LogEvent("Handler not installed");
    return 1;
  }
  const int result = RunOnThread();
  SetServiceStatus(kStopped);
  if (serviceMode_) LogEvent("Service stopped");
  // Run gives 0 in every case; a controller that stopped itself still ends the process
  // with a status that says so.
  return result != 0 ? result : exitStatus_;
}

int CServiceHost::RunOnThread() {
  int result = 0;
  platform::Thread body([this, &result] { result = Run(); });
  body.Join();
  return result;
}

int CServiceHost::Run() {
  LogEvent("Service started");
  SetServiceStatus(kRunning);
  // Sockets need no start-up here; the library is version 2.2 by definition.
  OpenLog();
  SyslogSend(6, "service started.");
  SyslogSend(7, "winsock version %d.%d", kSocketApiMajor, kSocketApiMinor);
  CheckDescriptorBudget();

  try {
    auto controller = std::make_unique<CNacControl>(endFlag_);
    {
      platform::MutexLock lock(controllerMutex_);
      controller_ = controller.get();
      // A stop that came while the controller was being built is acted on now.
      if (stopDemanded_ && !platform::PostToThread(controller_->ThreadId(), platform::kQuitMessage, 0, 0)) {
        SyslogSend(3, "CServiceHost::Run: An error occurred in PostThreadMessage.");
      }
    }
    controller->WaitForEnd();
    exitStatus_ = controller->ExitStatus();
    {
      platform::MutexLock lock(controllerMutex_);
      controller_ = nullptr;
    }
    controller.reset();
  } catch (const ThrownText& thrown) {
    SyslogSend(2, "%s", thrown.Text());
  } catch (...) {
    SyslogSend(2, "CNacControl class did a throw.");
  }
  {
    platform::MutexLock lock(controllerMutex_);
    controller_ = nullptr;
  }

  SyslogSend(6, "service stopped.");
  CloseSyslog();
  LogEvent("Service stopped");
  return 0;
}

void CServiceHost::OnStop() {
  SetServiceStatus(kStopPending);
  endFlag_.store(1);
  platform::MutexLock lock(controllerMutex_);
  stopDemanded_ = true;
  if (controller_ == nullptr) return;
  if (!platform::PostToThread(controller_->ThreadId(), platform::kQuitMessage, 0, 0)) {
    SyslogSend(3, "CServiceHost::OnStop: An error occurred in PostThreadMessage.");
  }
}

bool CServiceHost::Install() {
  if (manager_.Exists(serviceName_)) return true;
  const std::string path = platform::ExecutablePath();
  if (path.empty()) return false;
  if (!manager_.Accessible()) {
    ReportFailure("Could not open Service Manager");
    return false;
  }
  std::error_code error;
  const std::string workingDirectory = std::filesystem::current_path(error).string();
  if (error || !manager_.Create(serviceName_, "\"" + path + "\"", workingDirectory, kInstanceFiles)) {
    ReportFailure("Could not start service");
    return false;
  }
  return true;
}

bool CServiceHost::Uninstall() {
  if (!manager_.Exists(serviceName_)) return true;
  if (!manager_.Accessible()) {
    ReportFailure("Could not open Service Manager");
    return false;
  }
  if (manager_.Stop(serviceName_) == platform::SystemdUnits::StopResult::kFailed) {
    ReportFailure("Could not stop service");
  }
  if (!manager_.Delete(serviceName_)) {
    ReportFailure("Could not delete service");
    return false;
  }
  return true;
}
