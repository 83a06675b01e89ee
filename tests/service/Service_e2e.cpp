// The whole velnor process, run in a fresh directory with a unit directory of its own.

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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "tests/common/StopLines.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/common/VelnorProcess.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LogText;
using testing_support::LogTexts;
using testing_support::TempDir;
using testing_support::UdpCollector;
using testing_support::VelnorProcess;
using testing_support::Slurp;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kStopSequence = [] {
  std::vector<std::string> lines = testing_support::kControllerStopLines;
  lines.push_back("service stopped.");
  return lines;
}();

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

::testing::AssertionResult InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted) {
  auto at = texts.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, texts.end(), line);
    if (at == texts.end()) return ::testing::AssertionFailure() << "\"" << line << "\" missing or out of order";
    ++at;
  }
  return ::testing::AssertionSuccess();
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(units_.c_str(), 0755), 0);
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
  }

  int Run(const std::vector<std::string>& args) {
    VelnorProcess child(args, units_);
    const std::optional<int> code = child.Wait();
    EXPECT_TRUE(code.has_value()) << "velnor did not end";
    return code.value_or(-2);
  }
  std::string RegText() const { return Slurp(dir_.File("Velnor.reg")); }
  bool HasLocalService() const { return RegText().find("LocalService=Velnor") != std::string::npos; }
  std::vector<std::string> Logged() { return LogTexts(collector_->Drain(50ms)); }

  TempDir dir_;
  std::string units_ = dir_.File("units");
  std::string unit_ = units_ + "/velnor.service";
  std::unique_ptr<UdpCollector> collector_ = UdpCollector::OnFreeAddress();
};

TEST_F(ServiceTest, StartWithoutRegistrationOrNotifySocketFailsAtOnce) {
  for (const char* registered : {"", "-Service"}) {
    SCOPED_TRACE(registered);
    if (*registered != '\0') { ASSERT_EQ(Run({registered}), 0); }
    const auto started = Clock::now();
    VelnorProcess child({}, units_);
    const std::optional<int> code = child.Wait();
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_TRUE(code.has_value() && *code > 0);
    EXPECT_TRUE(*registered != '\0' || code == 1);
    EXPECT_EQ(child.Err().rfind("Velnor: ", 0), 0u) << child.Err();
    EXPECT_EQ(child.Out().find("Service started"), std::string::npos);
    EXPECT_TRUE(Logged().empty()) << "the service body must not run";
  }
}

struct Registration {
  std::vector<std::string> before, args;
  bool registered, localService;
};

class RegistrationTest : public ServiceTest, public ::testing::WithParamInterface<Registration> {};

TEST_P(RegistrationTest, WritesRegistrationAndUnit) {
  const Registration& c = GetParam();
  if (!c.before.empty()) { ASSERT_EQ(Run(c.before), 0); }
  ASSERT_EQ(Run(c.args), 0) << Slurp("err.txt");
  EXPECT_EQ(fs::exists(dir_.File("Velnor.reg")), c.registered);
  EXPECT_EQ(HasLocalService(), c.localService) << RegText();
  ASSERT_EQ(fs::exists(unit_), c.localService);
  if (!c.localService) return;
  const std::string unit = Slurp(unit_);
  const std::string binary = fs::canonical(VELNOR_BINARY).string();
  for (const std::string& line : std::vector<std::string>{"ExecStart=\"" + binary + "\"\n",
                                  "WorkingDirectory=" + fs::canonical(dir_.Path()).string() + "\n", "Type=notify\n"}) {
    EXPECT_NE(unit.find("\n" + line), std::string::npos) << line << " not in\n" << unit;
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, RegistrationTest,
                         ::testing::Values(Registration{{}, {"-RegServer"}, true, false},
                                           Registration{{}, {"-Service"}, true, true},
                                           Registration{{"-Service"}, {"-UnregServer"}, false, false},
                                           Registration{{}, {"-regserver", "-service"}, true, false},
                                           Registration{{"-Service"}, {"-RegServer"}, true, false}));

TEST_F(ServiceTest, ServiceModeNotifiesReadyAndStopping) {
  ASSERT_EQ(Run({"-Service"}), 0);
  const std::string path = dir_.File("notify.sock");
  platform::UniqueFd notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(notify.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto next = [&](int timeoutMs) -> std::string {
    pollfd p{notify.Get(), POLLIN, 0};
    char buffer[256];
    if (::poll(&p, 1, timeoutMs) != 1) return "<nothing>";
    const ssize_t n = ::recv(notify.Get(), buffer, sizeof buffer, 0);
    return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  };

  VelnorProcess child({}, units_, path);
  EXPECT_EQ(next(5000), "READY=1") << child.Err();
  child.Signal(SIGTERM);
  EXPECT_EQ(next(2000), "STOPPING=1");
  EXPECT_EQ(child.Wait(2s), 0) << child.Err();
}

TEST_F(ServiceTest, ConsoleModeLogsStartAndStopsInOrderOnInterrupt) {
  ASSERT_EQ(Run({"-RegServer"}), 0);
  VelnorProcess child({}, units_);
  ASSERT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Err();
  const auto start = collector_->Until("Start processing was finished.");
  ASSERT_TRUE(start.has_value() && start->size() >= 2);
  EXPECT_EQ(LogText((*start)[0]), "service started.");
  EXPECT_EQ(LogText((*start)[1]), "winsock version 2.2");
  std::this_thread::sleep_for(300ms);  // the service body takes hold of the controller

  const auto interrupted = Clock::now();
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), 0) << child.Err();
  EXPECT_LT(Clock::now() - interrupted, 1s);
  const std::vector<std::string> texts = Logged();
  EXPECT_TRUE(InOrder(texts, kStopSequence));
  EXPECT_TRUE(!texts.empty() && texts.back() == "service stopped.");
  EXPECT_TRUE(EndsWith(child.Out(), "Service stopped\n")) << child.Out();
}

TEST_F(ServiceTest, StopWhileTheControllerIsBuiltStillEndsInOrder) {
  ASSERT_EQ(Run({"-RegServer"}), 0);
  VelnorProcess child({}, units_);
  ASSERT_TRUE(child.WaitForOutput("Service started\n", 5s)) << child.Err();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 0) << child.Err();
  std::vector<std::string> wanted{"service started.", "Start processing was finished."};
  wanted.insert(wanted.end(), kStopSequence.begin(), kStopSequence.end());
  EXPECT_TRUE(InOrder(Logged(), wanted));
  EXPECT_TRUE(EndsWith(child.Out(), "Service stopped\n")) << child.Out();
}

}  // namespace
