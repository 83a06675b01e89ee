// The console of a whole velnor process: settings and registries that outlive a restart,
// and the console driven by socat as an operator's script would drive it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/ConsoleClient.h"
#include "tests/common/TempDir.h"
#include "tests/common/VelnorProcess.h"

namespace {

using testing_support::ConsoleClient;
using testing_support::TempDir;
using testing_support::VelnorProcess;
using namespace std::chrono_literals;

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(units_.c_str(), 0755), 0);
    VelnorProcess registration({"-RegServer"}, units_);
    ASSERT_EQ(registration.Wait(), 0);
  }
  void Start() {
    velnor_ = std::make_unique<VelnorProcess>(std::vector<std::string>{}, units_);
    ASSERT_TRUE(velnor_->WaitForOutput("Service started", 5s));
  }
  void Stop() {
    velnor_->Signal(SIGTERM);
    ASSERT_EQ(velnor_->Wait(), 0);
    velnor_.reset();
  }
  // A console on port with its first prompt read.
  static std::unique_ptr<ConsoleClient> Console(std::uint16_t port = 8000) {
    auto client = std::make_unique<ConsoleClient>(port);
    EXPECT_EQ(client->ReadPrompt(), "$ ");
    return client;
  }

  TempDir dir_;
  std::string units_ = dir_.File("units");
  std::unique_ptr<VelnorProcess> velnor_;
};

// A saved port and saved registries come back after the restart; withdrawn records are not
// saved. The files' layout is pinned by the command tests.
TEST_F(ConsoleTest, SavedSettingsAndRegistriesComeBackAfterTheRestart) {
  Start();
  auto console = Console();
  EXPECT_EQ(console->Command("service"), "PORT\r\n8000\r\n");
  for (const char* line : {"service set sport 9000", "pc add source-mac 00-11-22-aa-bb-cc source 192.168.0.1",
                           "pc add network 10.0.0.0", "quarantine add source 172.17.254.254 protocol tcp sport 4208",
                           "gw add 127.0.0.5 sport 8080 user op pass secret", "gw add 127.0.0.6",
                           "gwroute add 127.0.0.5 network 192.168.0.0 dev eth0",
                           "gwroute add 127.0.0.6 network 10.1.0.0 netmask 255.255.0.0", "pc del network 10.0.0.0",
                           "gw del 127.0.0.6", "service save", "pc save", "quarantine save", "gw save",
                           "gwroute save"}) {
    EXPECT_EQ(console->Command(line), "") << line;
  }
  Console(8000);  // the running server keeps its port
  const std::vector<std::string> shows{"service", "pc", "quarantine", "gw", "gwroute"};
  std::vector<std::string> before;
  for (const std::string& show : shows) before.push_back(console->Command(show).value_or(""));
  EXPECT_EQ(before[0], "PORT\r\n9000\r\n");
  EXPECT_EQ(before[3], "GW\t\tPORT\tID\tPW\r\n127.0.0.5\t8080\top\t********\r\n");
  console.reset();
  Stop();

  Start();
  console = Console(9000);
  for (std::size_t i = 0; i < shows.size(); ++i) EXPECT_EQ(console->Command(shows[i]), before[i]) << shows[i];
  EXPECT_FALSE(ConsoleClient(8000).ReadPrompt(300ms));
  console.reset();
  Stop();
}

TEST_F(ConsoleTest, AScriptPipedThroughSocatGivesItsTranscript) {
  Start();
  const std::string script =
      "gw add 127.0.0.9\n"
      "gw add 127.0.0.9\n"
      "gw sh\n"
      "nac add drop source 10.0.0.7\n"
      "nac\n"
      "bogus\n"
      "exit\n";
  dir_.Write("script.txt", script);
  Console();  // listening by now
  FILE* pipe = ::popen("socat -t 5 - TCP:127.0.0.1:8000 < script.txt", "r");
  ASSERT_NE(pipe, nullptr);
  std::string transcript;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) transcript.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0);
  // All lines arrive together, so their replies come before the prompts of the session.
  if (transcript.rfind("$ ", 0) == 0) transcript.erase(0, 2);
  EXPECT_EQ(transcript,
            "duplication of data\r\n"
            "GW\t\tPORT\tID\tPW\r\n127.0.0.9\t880\tadmin\t********\r\n"
            "TARGET\tDESTINATION\tADDRESS\t\t\tFQDN\r\ndrop\t10.0.0.7\t\r\n"
            "command not found\r\n"
            "good by\r\n");
  Stop();
}

}  // namespace
