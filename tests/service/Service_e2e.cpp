// The whole velnor process: registration switches, start without registration, service
// mode under a notify socket, and console mode with its log, run in a fresh directory with
// a unit directory of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

extern char** environ;

namespace {

using platform::UniqueFd;
using testing_support::LogText;
using testing_support::LogTexts;
using testing_support::TempDir;
using testing_support::UdpCollector;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr char kStartFinished[] = "Start processing was finished.";
// The controller's constructor returns this long after its start line; only then does the
// service body hold the controller, which nothing outside the process can see.
constexpr auto kControllerSettle = 300ms;

// The controller's stop lines, then the service body's last line.
const std::vector<std::string> kStopSequence = {
    "CNacControl::MsgProc: I received a service stop demand.",
    "I generated an end event of an KeepAlive.",
    "An KeepAlive was finished normally.",
    "I generated an end event of an KeepAliveStart.",
    "An KeepAliveStart was finished normally.",
    "I generated an end event of an KeepAliveStop.",
    "An KeepAliveStop was finished normally.",
    "I generated an end event of an HTTP client.",
    "An HTTP client was finished normally.",
    "I generated an end event of an command server.",
    "An command server was finished normally.",
    "service stopped.",
};

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// One velnor process with its standard output and error on pipes. The environment is this
// process's without NOTIFY_SOCKET and VELNOR_UNIT_DIR, plus what the test gives.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    std::vector<std::string> argStrings{VELNOR_BINARY};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('='));
      if (name == "NOTIFY_SOCKET" || name == "VELNOR_UNIT_DIR" || env.count(name) != 0) continue;
      envStrings.push_back(text);
    }
    for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (std::string& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]), errRead(errPipe[0]), errWrite(errPipe[1]);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::dup2(devNull, 0);
      ::dup2(outWrite.Get(), 1);
      ::dup2(errWrite.Get(), 2);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::signal(SIGINT, SIG_DFL);
      ::signal(SIGTERM, SIG_DFL);
      ::signal(SIGHUP, SIG_DFL);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (devNull >= 0) ::close(devNull);
    out_ = std::move(outRead);
    err_ = std::move(errRead);
  }

  ~Child() {
    if (!reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Signal(int signal) const { ::kill(pid_, signal); }

  // Reads standard output until it holds text; false after the time-out or its end.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (outText_.find(text) == std::string::npos) {
      if (SteadyClock::now() >= deadline || !out_) return false;
      Pump(10);
    }
    return true;
  }

  // The wait status once the process has ended, or none after the time-out.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (!Exited()) {
      if (SteadyClock::now() >= deadline) return std::nullopt;
      Pump(5);
    }
    // The pipes close with the process; take what is left in them.
    for (int rounds = 0; rounds < 100 && (out_ || err_); ++rounds) Pump(20);
    return status_;
  }

  bool Exited() {
    if (reaped_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      status_ = status;
    }
    return reaped_;
  }

  const std::string& Out() const { return outText_; }
  const std::string& Err() const { return errText_; }

 private:
  void Pump(int timeoutMs) {
    pollfd fds[2];
    nfds_t count = 0;
    if (out_) fds[count++] = {out_.Get(), POLLIN, 0};
    if (err_) fds[count++] = {err_.Get(), POLLIN, 0};
    if (count == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return;
    }
    if (::poll(fds, count, timeoutMs) <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      const bool isOut = fds[i].fd == out_.Get();
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (isOut ? outText_ : errText_).append(buffer, static_cast<std::size_t>(n));
      } else {
        (isOut ? out_ : err_).Reset();
      }
    }
  }

  pid_t pid_ = -1;
  UniqueFd out_;
  UniqueFd err_;
  std::string outText_;
  std::string errText_;
  bool reaped_ = false;
  int status_ = 0;
};

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// A unix datagram socket standing in for systemd's notify socket.
class NotifySocket {
 public:
  // A path, or a name after '@' for the abstract namespace.
  explicit NotifySocket(const std::string& name) : name_(name) {
    socket_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!socket_ || name.size() >= sizeof address.sun_path) throw std::runtime_error("notify socket");
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
      throw std::runtime_error("cannot bind the notify socket " + name);
    }
  }
  const std::string& Name() const { return name_; }

  std::optional<std::string> Next(std::chrono::milliseconds timeout) {
    pollfd p{socket_.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  std::string name_;
  UniqueFd socket_;
};

// The values of key in a unit file, in the order they stand.
std::vector<std::string> UnitValues(const std::string& unit, const std::string& key) {
  std::vector<std::string> values;
  std::size_t start = 0;
  while (start < unit.size()) {
    std::size_t end = unit.find('\n', start);
    if (end == std::string::npos) end = unit.size();
    const std::string line = unit.substr(start, end - start);
    if (StartsWith(line, key + "=")) values.push_back(line.substr(key.size() + 1));
    start = end + 1;
  }
  return values;
}

// The LocalService lines of a registration file, whatever their case and spacing.
std::size_t LocalServiceLines(const std::string& registration, const std::string& value) {
  const std::regex line("(^|\\n)[ \\t]*localservice[ \\t]*=[ \\t]*\"?" + value + "\"?[ \\t]*\\r?(?=\\n|$)",
                        std::regex::icase);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(registration.begin(), registration.end(), line), std::sregex_iterator()));
}

bool MentionsLocalService(const std::string& registration) {
  return std::regex_search(registration, std::regex("localservice", std::regex::icase));
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unitDir_ = dir_.File("units");
    ASSERT_EQ(::mkdir(unitDir_.c_str(), 0755), 0);
    collector_ = UdpCollector::OnFreeAddress();
  }

  std::map<std::string, std::string> Env(std::map<std::string, std::string> extra = {}) const {
    extra.emplace("VELNOR_UNIT_DIR", unitDir_);
    return extra;
  }

  void WriteSyslogIni(const std::string& mask) { dir_.Write("syslog.ini", collector_->SyslogIni(mask)); }

  Finished RunToEnd(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    Child child(args, Env(std::move(env)));
    const std::optional<int> status = child.WaitForExit(5s);
    if (!status) {
      ADD_FAILURE() << "velnor did not end within 5 s; output: " << child.Out() << child.Err();
      return {};
    }
    return {*status, child.Out(), child.Err()};
  }

  void Register(const std::string& option) {
    const Finished run = RunToEnd({option});
    ASSERT_TRUE(ExitedWith(run.status, 0)) << option << ": " << Describe(run.status) << "\n" << run.err;
  }

  std::vector<std::string> UnitDirectoryEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(unitDir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  bool RegistrationExists() const { return std::filesystem::exists(dir_.File("Velnor.reg")); }
  std::string Unit() const { return dir_.Read("units/velnor.service"); }

  // The log lines that arrived, once the process has ended (all of them are waiting).
  std::vector<std::string> LoggedTexts() {
    return LogTexts(collector_->Drain(50ms));
  }

  TempDir dir_;
  std::string unitDir_;
  std::unique_ptr<UdpCollector> collector_;
};

// The texts in the order given, each found after the one before.
::testing::AssertionResult InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted) {
  auto at = texts.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, texts.end(), line);
    if (at == texts.end()) {
      std::string all;
      for (const std::string& t : texts) all += "  " + t + "\n";
      return ::testing::AssertionFailure() << "\"" << line << "\" missing or out of order in:\n" << all;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

// --- registration ---

TEST_F(ServiceTest, WithoutRegistrationTheProcessEndsAtOnceWithAMessage) {
  WriteSyslogIni("debug");
  const auto started = SteadyClock::now();
  const Finished run = RunToEnd({});
  EXPECT_LT(SteadyClock::now() - started, 2s);
  EXPECT_TRUE(ExitedWith(run.status, 1)) << Describe(run.status);
  EXPECT_TRUE(StartsWith(run.err, "Velnor: ")) << run.err;
  EXPECT_EQ(run.out.find("Service started"), std::string::npos) << run.out;
  EXPECT_TRUE(LoggedTexts().empty()) << "the service body must not run";
}

TEST_F(ServiceTest, RegistrationFileWithoutTheAppIdCountsAsNone) {
  dir_.Write("Velnor.reg", "[Other]\r\nLocalService=Velnor\r\n");
  const Finished run = RunToEnd({});
  EXPECT_TRUE(ExitedWith(run.status, 1)) << Describe(run.status);
  EXPECT_TRUE(StartsWith(run.err, "Velnor: ")) << run.err;
  EXPECT_EQ(run.out.find("Service started"), std::string::npos);
}

TEST_F(ServiceTest, RegServerRegistersWithoutLocalServiceOrUnit) {
  const Finished run = RunToEnd({"-RegServer"});
  EXPECT_TRUE(ExitedWith(run.status, 0)) << Describe(run.status) << "\n" << run.err;
  ASSERT_TRUE(RegistrationExists());
  const std::string registration = dir_.Read("Velnor.reg");
  EXPECT_TRUE(std::regex_search(registration, std::regex("velnor\\.exe", std::regex::icase))) << registration;
  EXPECT_TRUE(std::regex_search(
      registration, std::regex("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}", std::regex::icase)))
      << registration;
  EXPECT_FALSE(MentionsLocalService(registration)) << registration;
  EXPECT_TRUE(UnitDirectoryEntries().empty());
  EXPECT_EQ(run.out.find("Service started"), std::string::npos) << "no service runs after a switch";
}

TEST_F(ServiceTest, ServiceRegistersLocalServiceAndInstallsANotifyUnit) {
  const Finished run = RunToEnd({"-Service"});
  EXPECT_TRUE(ExitedWith(run.status, 0)) << Describe(run.status) << "\n" << run.err;
  EXPECT_EQ(LocalServiceLines(dir_.Read("Velnor.reg"), "Velnor"), 1u) << dir_.Read("Velnor.reg");

  ASSERT_EQ(UnitDirectoryEntries(), std::vector<std::string>{"velnor.service"}) << "installed, not enabled";
  const std::string unit = Unit();
  const std::string binary = std::filesystem::canonical(VELNOR_BINARY).string();
  const std::string directory = std::filesystem::canonical(dir_.Path()).string();
  EXPECT_EQ(UnitValues(unit, "ExecStart"), std::vector<std::string>{"\"" + binary + "\""}) << unit;
  EXPECT_EQ(UnitValues(unit, "WorkingDirectory"), std::vector<std::string>{directory}) << unit;
  EXPECT_EQ(UnitValues(unit, "Type"), std::vector<std::string>{"notify"}) << unit;
  const std::vector<std::string> after = UnitValues(unit, "After");
  EXPECT_TRUE(std::any_of(after.begin(), after.end(),
                          [](const std::string& v) { return v.find("network-online.target") != std::string::npos; }))
      << unit;
  EXPECT_EQ(run.out.find("Service started"), std::string::npos);
}

TEST_F(ServiceTest, ServiceTwiceLeavesOneUnitAndOneRegistration) {
  Register("-Service");
  const std::string firstUnit = Unit();
  Register("-Service");
  EXPECT_EQ(UnitDirectoryEntries(), std::vector<std::string>{"velnor.service"});
  EXPECT_EQ(Unit(), firstUnit);
  EXPECT_EQ(UnitValues(Unit(), "ExecStart").size(), 1u);
  EXPECT_EQ(LocalServiceLines(dir_.Read("Velnor.reg"), "Velnor"), 1u) << dir_.Read("Velnor.reg");
}

TEST_F(ServiceTest, UnregServerRemovesRegistrationAndUnit) {
  Register("-Service");
  const Finished run = RunToEnd({"-UnregServer"});
  EXPECT_TRUE(ExitedWith(run.status, 0)) << Describe(run.status) << "\n" << run.err;
  EXPECT_FALSE(RegistrationExists());
  EXPECT_TRUE(UnitDirectoryEntries().empty());

  const Finished start = RunToEnd({});
  EXPECT_TRUE(ExitedWith(start.status, 1)) << "nothing is registered any more: " << Describe(start.status);
}

TEST_F(ServiceTest, UnregServerWithNothingRegisteredSucceeds) {
  const Finished run = RunToEnd({"/UnregServer"});
  EXPECT_TRUE(ExitedWith(run.status, 0)) << Describe(run.status) << "\n" << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_FALSE(RegistrationExists());
}

TEST_F(ServiceTest, LowerCaseRegServerWithServiceRegistersWithoutUnit) {
  const Finished run = RunToEnd({"-regserver", "-service"});
  EXPECT_TRUE(ExitedWith(run.status, 0)) << Describe(run.status) << "\n" << run.err;
  ASSERT_TRUE(RegistrationExists());
  EXPECT_FALSE(MentionsLocalService(dir_.Read("Velnor.reg"))) << dir_.Read("Velnor.reg");
  EXPECT_TRUE(UnitDirectoryEntries().empty());
}

TEST_F(ServiceTest, RegServerAfterServiceRemovesUnitAndLocalService) {
  Register("-Service");
  Register("-RegServer");
  ASSERT_TRUE(RegistrationExists());
  EXPECT_FALSE(MentionsLocalService(dir_.Read("Velnor.reg"))) << dir_.Read("Velnor.reg");
  EXPECT_TRUE(UnitDirectoryEntries().empty());
}

TEST_F(ServiceTest, ServiceWithoutAUsableUnitDirectoryCannotOpenTheServiceManager) {
  const Finished run = RunToEnd({"-Service"}, {{"VELNOR_UNIT_DIR", dir_.File("no-such-directory")}});
  EXPECT_FALSE(ExitedWith(run.status, 0)) << Describe(run.status);
  EXPECT_NE(run.err.find("Velnor: Could not open Service Manager"), std::string::npos) << run.err;
}

// --- service mode ---

TEST_F(ServiceTest, ServiceModeWithoutNotifySocketEndsAtOnceWithAMessage) {
  Register("-Service");
  WriteSyslogIni("debug");
  const auto started = SteadyClock::now();
  const Finished run = RunToEnd({});
  EXPECT_LT(SteadyClock::now() - started, 2s);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) != 0) << Describe(run.status);
  EXPECT_TRUE(StartsWith(run.err, "Velnor: ")) << run.err;
  EXPECT_EQ(run.out.find("Service started"), std::string::npos) << run.out;
  EXPECT_TRUE(LoggedTexts().empty()) << "the service body must not run";
}

TEST_F(ServiceTest, ServiceModeReportsReadyAndStoppingThroughTheNotifySocket) {
  Register("-Service");
  WriteSyslogIni("debug");
  NotifySocket notify(dir_.File("notify.sock"));
  Child child({}, Env({{"NOTIFY_SOCKET", notify.Name()}}));

  EXPECT_EQ(notify.Next(5s), std::optional<std::string>("READY=1")) << child.Err();
  child.Signal(SIGTERM);
  EXPECT_EQ(notify.Next(2s), std::optional<std::string>("STOPPING=1"));
  const std::optional<int> status = child.WaitForExit(2s);
  ASSERT_TRUE(status.has_value()) << "the stop control did not end the service";
  EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();
  EXPECT_FALSE(notify.Next(20ms).has_value()) << "nothing after stop pending";
  // Service mode writes nothing on standard output.
  EXPECT_EQ(child.Out().find("Service started"), std::string::npos) << child.Out();

  const std::vector<std::string> texts = LoggedTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "service started.");
  EXPECT_EQ(texts.back(), "service stopped.");
}

TEST_F(ServiceTest, ServiceModeReachesAnAbstractNotifySocket) {
  Register("-Service");
  NotifySocket notify("@velnor-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}()));
  Child child({}, Env({{"NOTIFY_SOCKET", notify.Name()}}));
  EXPECT_EQ(notify.Next(5s), std::optional<std::string>("READY=1")) << child.Err();
  child.Signal(SIGTERM);
  EXPECT_EQ(notify.Next(2s), std::optional<std::string>("STOPPING=1"));
  const std::optional<int> status = child.WaitForExit(2s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();
}

// --- console mode ---

TEST_F(ServiceTest, ConsoleModeLogsItsStartAndStopsInOrderOnInterrupt) {
  Register("-RegServer");
  WriteSyslogIni("debug");
  Child child({}, Env());
  ASSERT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Out() << child.Err();

  const std::optional<std::vector<std::string>> start = collector_->Until(kStartFinished, 5s);
  ASSERT_TRUE(start.has_value()) << "the controller did not finish its start";
  ASSERT_GE(start->size(), 3u);
  EXPECT_TRUE(StartsWith((*start)[0], "<30>")) << (*start)[0];
  EXPECT_EQ(LogText((*start)[0]), "service started.");
  EXPECT_TRUE(StartsWith((*start)[1], "<31>")) << (*start)[1];
  EXPECT_EQ(LogText((*start)[1]), "winsock version 2.2");
  std::this_thread::sleep_for(kControllerSettle);

  const auto interrupted = SteadyClock::now();
  child.Signal(SIGINT);
  const std::optional<int> status = child.WaitForExit(5s);
  ASSERT_TRUE(status.has_value()) << "SIGINT did not end the service";
  EXPECT_LT(SteadyClock::now() - interrupted, 1s);
  EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();

  const std::vector<std::string> texts = LoggedTexts();
  EXPECT_TRUE(InOrder(texts, kStopSequence));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "service stopped.");
  EXPECT_TRUE(StartsWith(child.Out(), "Service started\n")) << child.Out();
  EXPECT_TRUE(EndsWith(child.Out(), "Service stopped\n")) << child.Out();
  EXPECT_EQ(Count(child.Out(), "Service stopped"), 1u) << child.Out();
}

// SIGHUP stands for pause and continue, which the service ignores.
TEST_F(ServiceTest, HangupLeavesTheConsoleServiceRunning) {
  Register("-RegServer");
  WriteSyslogIni("debug");
  Child child({}, Env());
  ASSERT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Err();
  ASSERT_TRUE(collector_->Until(kStartFinished, 5s).has_value());
  std::this_thread::sleep_for(kControllerSettle);

  child.Signal(SIGHUP);
  const std::vector<std::string> afterHangup = LoggedTexts();
  EXPECT_TRUE(afterHangup.empty()) << afterHangup.front();
  EXPECT_FALSE(child.Exited());

  child.Signal(SIGINT);
  const std::optional<int> status = child.WaitForExit(5s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();
  EXPECT_TRUE(InOrder(LoggedTexts(), kStopSequence));
}

// A stop that comes while the controller is still being built is remembered and acted on
// once the controller exists: the service still ends in order.
TEST_F(ServiceTest, TerminateBeforeTheControllerExistsStillEndsInOrder) {
  Register("-RegServer");
  WriteSyslogIni("debug");
  Child child({}, Env());
  // "Service started" comes first in the body; building the controller takes over 100 ms.
  ASSERT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Err();
  child.Signal(SIGTERM);
  const std::optional<int> status = child.WaitForExit(5s);
  ASSERT_TRUE(status.has_value()) << "a stop during the start was lost";
  EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();

  const std::vector<std::string> texts = LoggedTexts();
  std::vector<std::string> wanted{"service started.", kStartFinished};
  wanted.insert(wanted.end(), kStopSequence.begin(), kStopSequence.end());
  EXPECT_TRUE(InOrder(texts, wanted));
  EXPECT_TRUE(EndsWith(child.Out(), "Service stopped\n")) << child.Out();
}

// Runs the console service with the given syslog.ini text, stops it once it has said that it
// started, and gives every log datagram of the run.
class ConsoleThresholdTest : public ServiceTest {
 protected:
  std::vector<std::string> RunWithSyslogIni(const std::string& ini) {
    Register("-RegServer");
    dir_.Write("syslog.ini", ini);
    Child child({}, Env());
    EXPECT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Err();
    child.Signal(SIGINT);
    const std::optional<int> status = child.WaitForExit(5s);
    EXPECT_TRUE(status.has_value());
    if (status) {
      EXPECT_TRUE(ExitedWith(*status, 0)) << Describe(*status) << "\n" << child.Err();
    }
    EXPECT_TRUE(EndsWith(child.Out(), "Service stopped\n")) << child.Out();
    return collector_->Drain(50ms);
  }

  std::string Destination() const { return "[SYSLOG]\r\nDESTINATION=" + collector_->Address() + "\r\n"; }
};

TEST_F(ConsoleThresholdTest, InfoMaskSendsOnlyTheMilestones) {
  const std::vector<std::string> datagrams = RunWithSyslogIni(Destination() + "PRIORITYMASK=info\r\n");
  EXPECT_EQ(LogTexts(datagrams), (std::vector<std::string>{"service started.", "service stopped."}));
  for (const std::string& d : datagrams) EXPECT_TRUE(StartsWith(d, "<30>")) << d;
}

TEST_F(ConsoleThresholdTest, MissingMaskMeansInfo) {
  const std::vector<std::string> datagrams = RunWithSyslogIni(Destination());
  EXPECT_EQ(LogTexts(datagrams), (std::vector<std::string>{"service started.", "service stopped."}));
}

// Severity names match exactly: "INFO" names no severity, and an unknown name sends all.
TEST_F(ConsoleThresholdTest, UnknownMaskNameSendsEverything) {
  const std::vector<std::string> texts = LogTexts(RunWithSyslogIni(Destination() + "PRIORITYMASK=INFO\r\n"));
  EXPECT_TRUE(InOrder(texts, {"service started.", "winsock version 2.2", "service stopped."}));
}

TEST_F(ConsoleThresholdTest, EmergMaskSendsNothing) {
  EXPECT_TRUE(RunWithSyslogIni(Destination() + "PRIORITYMASK=emerg\r\n").empty());
}

TEST_F(ConsoleThresholdTest, WarningMaskDropsTheMilestones) {
  EXPECT_TRUE(RunWithSyslogIni(Destination() + "PRIORITYMASK=warning\r\n").empty());
}

}  // namespace
