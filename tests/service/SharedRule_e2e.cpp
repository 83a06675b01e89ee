// PCs known by their MAC alone share the rule that lets a quarantine server answer them. A
// gateway keeps its lists as sets, so the deletion of one such PC takes that rule from the
// others too: acl status says so, and deleting and adding one of the others gives it back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "tests/common/Eventually.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/ServiceFixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18251;
constexpr char kShared[] = "pc accept protocol tcp source 172.17.0.1 sport 80";

class SharedRuleTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    PrivateNetwork::AnswerEcho(true);
    ASSERT_EQ(Run({"-RegServer"}), 0);
  }
};

bool Holds(const gwsim::GatewaySimulator& gateway, const std::string& rule) {
  const std::vector<std::string> rules = gateway.Rules();
  return std::find(rules.begin(), rules.end(), rule) != rules.end();
}

TEST_F(SharedRuleTest, DeletingOneMacOnlyPcTakesTheSharedRuleAndReAddingAnotherGivesItBack) {
  gwsim::GatewaySimulator gateway("127.0.0.5", 0);
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n");
  VelnorProcess velnor({}, units_);
  ConsoleClient console(kPort);
  ASSERT_TRUE(console.ReadPrompt()) << velnor.Err();
  for (const std::string& line : std::vector<std::string>{
           "quarantine add source 172.17.0.1 protocol tcp sport 80", "gw add 127.0.0.5 sport " + std::to_string(gateway.Port()),
           "pc add source-mac 02:00:00:00:00:01", "pc add source-mac 02:00:00:00:00:02"}) {
    ASSERT_EQ(console.Command(line), "") << line;
  }
  const std::string gw = "127.0.0.5:" + std::to_string(gateway.Port()) + " ON queued 0 ";
  // The gateway's line of acl status once nothing waits for it, ending as wanted.
  const auto statusEnds = [&](const std::string& end) {
    return Eventually([&] {
      const std::string status = console.Command("acl status").value_or("");
      return status.starts_with(gw) && status.ends_with(end + "\r\n");
    });
  };
  ASSERT_TRUE(statusEnds(" in sync")) << console.Command("acl status").value_or("");
  EXPECT_TRUE(Holds(gateway, kShared));

  ASSERT_EQ(console.Command("pc del source-mac 02:00:00:00:00:01"), "");
  EXPECT_TRUE(statusEnds(" missing 1 extra 0")) << console.Command("acl status").value_or("");
  EXPECT_FALSE(Holds(gateway, kShared));

  ASSERT_EQ(console.Command("pc del source-mac 02:00:00:00:00:02"), "");
  ASSERT_EQ(console.Command("pc add source-mac 02:00:00:00:00:02"), "");
  EXPECT_TRUE(statusEnds(" in sync")) << console.Command("acl status").value_or("");
  EXPECT_TRUE(Holds(gateway, kShared));
  velnor.Signal(SIGTERM);
  EXPECT_EQ(velnor.Wait(10s), 0);
}

}  // namespace
