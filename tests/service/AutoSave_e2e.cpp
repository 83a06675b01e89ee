// AUTOSAVE=enable against the whole velnor: a prompt that came back means its change is on
// disk, whatever happens to the process after it; a save that fails says so and prompts.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "tests/common/ServiceFixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

std::string Mac(int round, int i) {
  char text[24];
  std::snprintf(text, sizeof text, "02:00:%02X:00:%02X:%02X", round, (i >> 8) & 0xff, i & 0xff);
  return text;
}

class AutoSaveTest : public ServiceFixture {
 protected:
  AutoSaveTest() {
    dir_.Write("Velnor.ini", "[SERVICE]\r\nAUTOSAVE=Enable\r\n");
    EXPECT_EQ(Run({"-RegServer"}), 0);
  }
};

// Three times a batch of adds is piped in and the process killed right after a burst of
// prompts came (the second, third, fourth): a save still due for those prompts would be
// caught unmade. Every PC whose prompt came back, in any round, is there after the restarts.
TEST_F(AutoSaveTest, AKillDuringABatchLosesNoAcknowledgedAdd) {
  constexpr int kLines = 12000;
  int acknowledged[3] = {};
  for (int round = 0; round < 3; ++round) {
    auto velnor = Start();
    auto console = Console();
    const timeval limit{10, 0};
    ::setsockopt(console->Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string batch;
    for (int i = 0; i < kLines; ++i) batch += "pc add source-mac " + Mac(round, i) + "\n";
    std::thread writer([&] { (void)console->Send(batch); });
    // Prompts that came back, up to the connection's end.
    int prompts = 0;
    char last = 0;
    char buffer[65536];
    for (ssize_t n, bursts = 0; (n = ::recv(console->Fd(), buffer, sizeof buffer, 0)) > 0;) {
      for (ssize_t i = 0; i < n; ++i) {
        if (last == '$' && buffer[i] == ' ') ++prompts;
        last = buffer[i];
      }
      if (++bursts == round + 2) velnor->Signal(SIGKILL);
    }
    velnor->Signal(SIGKILL);  // a batch served in fewer bursts ends killed all the same
    ::shutdown(console->Fd(), SHUT_RDWR);
    writer.join();
    EXPECT_EQ(velnor->Wait(10s), -SIGKILL);
    acknowledged[round] = prompts;
  }
  auto velnor = Start();
  std::istringstream listing(Console()->Command("pc", 20s).value_or(""));
  std::set<std::string> macs;
  for (std::string line; std::getline(listing, line);) macs.insert(line.substr(0, line.find('\t')));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < acknowledged[round]; ++i) {
      ASSERT_TRUE(macs.count(Mac(round, i))) << "round " << round << " line " << i << " of " << acknowledged[round];
    }
  }
  Stop(velnor);
}

// The registry's file cannot be replaced (a directory stands in its place): the add answers
// "save error" and still prompts, the failure is reported, another registry is saved as
// usual meanwhile, the next save once the way is clear writes everything held, and the NAC
// entries are kept in nac.csv.
TEST_F(AutoSaveTest, AFailedSaveAnswersSaveErrorAndThePromptStillComes) {
  auto velnor = Start();
  auto console = Console();
  ASSERT_EQ(::mkdir(dir_.File("pc.csv").c_str(), 0755), 0);
  EXPECT_EQ(console->Command("pc add source-mac 02:00:00:00:0d:01"), "save error\r\n");
  EXPECT_EQ(console->Command("gw add 192.0.2.1"), "");
  EXPECT_NE(dir_.Read("gw.csv").find("192.0.2.1"), std::string::npos);

  ASSERT_EQ(::rmdir(dir_.File("pc.csv").c_str()), 0);
  EXPECT_EQ(console->Command("pc add source-mac 02:00:00:00:0d:02"), "");
  const std::string pcs = dir_.Read("pc.csv");
  EXPECT_NE(pcs.find("02:00:00:00:0D:01"), std::string::npos) << pcs;
  EXPECT_NE(pcs.find("02:00:00:00:0D:02"), std::string::npos) << pcs;
  EXPECT_EQ(console->Command("nac add accept source 192.0.2.9"), "");
  EXPECT_NE(dir_.Read("nac.csv").find("192.0.2.9"), std::string::npos);
  velnor->Signal(SIGTERM);
  EXPECT_EQ(velnor->Wait(30s), 0);
  // The gw add's save tried pc.csv again, as every save does until it is written.
  const std::string failed = "Velnor: I failed in saving of PC data: pc.csv.\n";
  EXPECT_EQ(velnor->Err(), failed + failed);
}

}  // namespace
