// The whole velnor process, run in a fresh directory with a unit directory of its own: its
// switches and the service manager, its start and stop, and its console as an operator or
// an operator's script drives it across a restart.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "tests/common/ServiceFixture.h"
#include "tests/common/StopLines.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

::testing::AssertionResult InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted) {
  auto at = texts.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, texts.end(), line);
    if (at == texts.end()) return ::testing::AssertionFailure() << "\"" << line << "\" missing or out of order";
    ++at;
  }
  return ::testing::AssertionSuccess();
}

using ServiceTest = ServiceFixture;

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
    EXPECT_TRUE(collector_->Drain(50ms).empty()) << "the service body must not run";
  }
}

// What each switch leaves: Velnor.reg, and for a service its LocalService line and the unit
// (whose lines the unit tests pin).
TEST_F(ServiceTest, SwitchesWriteRegistrationAndUnit) {
  const struct {
    std::vector<std::string> before, args;
    bool registered, localService;
  } cases[] = {{{}, {"-RegServer"}, true, false},
               {{}, {"-Service"}, true, true},
               {{"-Service"}, {"-UnregServer"}, false, false},
               {{"-Service"}, {"-RegServer"}, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " after " + (c.before.empty() ? "nothing" : c.before[0]));
    fs::remove(dir_.File("Velnor.reg"));
    fs::remove(unit_);
    if (!c.before.empty()) {
      ASSERT_EQ(Run(c.before), 0);
    }
    ASSERT_EQ(Run(c.args), 0) << Slurp("err.txt");
    EXPECT_EQ(fs::exists(dir_.File("Velnor.reg")), c.registered);
    const std::string reg = Slurp(dir_.File("Velnor.reg"));
    EXPECT_EQ(reg.find("LocalService=Velnor") != std::string::npos, c.localService) << reg;
    EXPECT_EQ(fs::exists(unit_), c.localService);
  }
}

TEST_F(ServiceTest, ServiceModeNotifiesReadyAndStopping) {
  ASSERT_EQ(Run({"-Service"}), 0);
  const std::string path = dir_.File("notify.sock");
  platform::UniqueSocket notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{AF_UNIX, {}};
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

// Stopped at once, while the controller may still be in the making, or once it runs: the
// same lines in the same order either way.
TEST_F(ServiceTest, ConsoleModeLogsStartAndStopsInOrder) {
  ASSERT_EQ(Run({"-RegServer"}), 0);
  for (const bool settled : {false, true}) {
    SCOPED_TRACE(settled ? "SIGINT once running" : "SIGTERM at once");
    const std::unique_ptr<VelnorProcess> velnor = Start();
    VelnorProcess& child = *velnor;
    std::vector<std::string> seen;
    if (settled) {
      seen = collector_->Until("Start processing was finished.").value_or(seen);
      std::this_thread::sleep_for(300ms);  // the service body takes hold of the controller
    }
    const auto stopped = Clock::now();
    child.Signal(settled ? SIGINT : SIGTERM);
    EXPECT_EQ(child.Wait(), 0) << child.Err();
    EXPECT_LT(Clock::now() - stopped, 1s);
    for (const std::string& datagram : collector_->Drain(50ms)) seen.push_back(datagram);
    const std::vector<std::string> texts = LogTexts(seen);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "service started.");
    EXPECT_EQ(texts[1], "winsock version 2.2");
    // A stop that comes during the start may find the dispatcher not made yet.
    std::vector<std::string> wanted{"Start processing was finished."};
    for (const std::string& line : ControllerStopLines(false)) wanted.push_back(line);
    wanted.push_back("service stopped.");
    EXPECT_TRUE(InOrder(texts, wanted));
    EXPECT_EQ(texts.back(), "service stopped.");
    EXPECT_TRUE(child.Out().ends_with("Service stopped\n")) << child.Out();
  }
}

// A saved port, saved registries and the NAC entries (kept with [NAC] PERSIST=enable) come
// back after the restart, and the gateway's reset carries them; the running server keeps its
// port until then. The files themselves are pinned by the registry tests, the reading of
// each at start by the controller's. The changes come as an operator's script piped through
// socat, whose lines arrive together: their replies come before the prompts of the session.
TEST_F(ServiceTest, SavedSettingsAndRegistriesComeBackAfterTheRestart) {
  dir_.Write("Velnor.ini", "[NAC]\nPERSIST=enable\n");
  ASSERT_EQ(Run({"-RegServer"}), 0);
  auto velnor = Start();
  Console();  // listening by now
  const std::string gw = "gw add 127.0.0.5 sport 8080 user op pass secret\n";
  dir_.Write("script.txt", "service set sport 9000\n" + gw + gw +
                               "gwroute add 127.0.0.5 network 192.168.0.0 dev eth0\nservice save\ngw save\n"
                               "gwroute save\npc add source-mac 00:11:22:33:44:55\npc save\n"
                               "quarantine add source 172.17.0.1 protocol udp sport 53\nquarantine save\n"
                               "nac add drop source 10.9.9.9 source-mac 00:11:22:33:44:55\nbogus\nexit\n");
  const Outcome socat = Shell("socat -t 5 - TCP:127.0.0.1:8000 < script.txt");
  ASSERT_EQ(socat.status, 0) << socat.output;
  std::string transcript = socat.output;
  if (transcript.rfind("$ ", 0) == 0) transcript.erase(0, 2);
  EXPECT_EQ(transcript, "duplication of data\r\ncommand not found\r\ngood by\r\n");

  auto console = Console(8000);
  const std::vector<std::string> shows{"service", "gw", "gwroute", "pc", "quarantine", "nac", "acl show 127.0.0.5"};
  std::vector<std::string> before;
  for (const std::string& show : shows) before.push_back(console->Command(show).value_or(""));
  EXPECT_EQ(before[0], "PORT\r\n9000\r\n");
  EXPECT_NE(before.back().find("access-list nac drop in eth0 source 10.9.9.9 source-mac 00:11:22:33:44:55\r\n"),
            std::string::npos)
      << before.back();
  console.reset();
  Stop(velnor);

  velnor = Start();
  console = Console(9000);
  for (std::size_t i = 0; i < shows.size(); ++i) EXPECT_EQ(console->Command(shows[i]), before[i]) << shows[i];
  EXPECT_FALSE(ConsoleClient(8000).ReadPrompt(300ms));
  console.reset();
  Stop(velnor);
}

}  // namespace
