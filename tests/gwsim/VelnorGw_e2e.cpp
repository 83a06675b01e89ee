// velnor-gw as the package ships it: it serves the gateways named on its command line,
// answers its control port, and ends on SIGTERM.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/common/ConsoleClient.h"
#include "tests/common/PeerProcess.h"
#include "tests/common/TempDir.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(VelnorGwTest, ServesItsGatewaysAnswersItsControlPortAndStopsOnTerm) {
  TempDir dir;
  const std::string program = (std::filesystem::path(VELNOR_BINARY).parent_path() / "velnor-gw").string();
  PeerProcess gateway({program, "--control", "127.0.0.1:18301", "127.0.0.1:18302"}, "velnor-gw.out", "velnor-gw.out");
  ASSERT_TRUE(WaitForBoundSocket("tcp", "127.0.0.1", 18301, 10s));
  ASSERT_TRUE(WaitForBoundSocket("tcp", "127.0.0.1", 18302, 10s));
  ConsoleClient control(18301);
  ASSERT_TRUE(control.Send("stats 127.0.0.1:18302\nquit\n"));
  const std::string reply = control.ReadToClose(5s).value_or("no reply");
  EXPECT_NE(reply.find("127.0.0.1:18302 connections=0 requests=0 "), std::string::npos) << reply;
  EXPECT_EQ(gateway.Stop(), 0);
}

}  // namespace
