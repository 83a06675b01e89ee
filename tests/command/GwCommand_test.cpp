#include "command/GwCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/command/CommandHarness.h"

namespace {

const char kHeader[] = "GW\t\tPORT\tID\tPW\r\n";
const char kAddUsage[] =
    "gw: invalid option\r\n\r\nUsage: gw add TARGET [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
    "Examples:\r\n  gw add 172.16.0.1\r\n";
const char kUsage[] =
    "gw: invalid option\r\n\r\nUsage: gw OPERATION [TARGET] [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
    "Examples:\r\n  gw add 172.16.0.1\r\n  gw del 172.16.0.1\r\n  gw save\r\n  gw load\r\n  gw clear\r\n"
    "  gw show\r\n\r\nOPERATION:         (add/del/save/load/clear/show)\r\nTARGET:            IP address of GW\r\n"
    "SRC_PORT:          Port number of HTTP protocol\r\nID:                user id of GW\r\n"
    "PW:                Password of GW\r\n";
const char kGw[] = "172.16.0.1:8080:admin:tovin+;";

// "address:port:user:password" per gateway.
std::string Gateways() {
  return testing_support::Dump<CGwData>(GetGwDataList(), [](const CGwData& g) {
    return g.addressText + ":" + std::to_string(g.port) + ":" + g.user + ":" + g.password;
  });
}

using GwCommandTest = CommandTest;

TEST_F(GwCommandTest, ShowLinesUpColumnsAndHidesPassword) {
  const struct {
    const char *add, *line;
  } cases[] = {
      {"gw add 172.16.0.1", "172.16.0.1\t880\tadmin\t********\r\n"},
      {"gw a 10.0.0.1 s 8080 u root", "10.0.0.1\t8080\troot\t********\r\n"},
      {"gw  1.2.3.4 pass  user op", "1.2.3.4\t\t880\top\t\r\n"},
      {"gw add 10.0.0.3 sport 08080 user op\xc3\xa9rateur pass p;s$s'w\\o{r}d=", "10.0.0.3\t08080\top\xc3\xa9rateur\t********\r\n"},
  };
  for (const auto& c : cases) {
    ResetRegistries();
    EXPECT_EQ(RunCommandLine(c.add).result, 1) << c.add;
    for (const char* show : {"gw", "gw sh", "gw show all"}) {
      EXPECT_EQ(RunCommandLine(show), (CommandRun{0, kHeader + std::string(c.line)})) << c.add << " / " << show;
    }
  }
  ASSERT_EQ(RunCommandLine("gw clear").result, 4);
  EXPECT_EQ(RunCommandLine("gw"), (CommandRun{0, kHeader})) << "withdrawn gateways are not listed";
}

// A refused line answers with its text and leaves the registry and the directory as they were.
TEST_F(GwCommandTest, RefusalsChangeNothing) {
  ASSERT_EQ(RunCommandLine("gw add 172.16.0.1").result, 1);
  const std::string before = Gateways();
  const std::string del = "gw: invalid option\r\n\r\nUsage: gw del TARGET...";
  std::vector<Step> steps = {{"gw add 172.16.0.1 sport 8080", 0, "duplication of data\r\n", before},
                             {"gw delete 172.16.0.1", 0, kUsage, before},
                             {"gw x", 0, kUsage, before},
                             {"gw del", 0, del, before},
                             {"gw del 172.16.0.1 sport x", 0, del, before},
                             {"gw del 172.16.0.1 pass p,ss", 0, del, before}};
  // Free text that gw.csv could not give back (a comma, a quote, a control character) is refused too.
  for (const char* line : {"gw add", "gw add 172.16.0.300", "gw add 10.0.0.2 sport 0", "gw add 10.0.0.2 sport 65536",
                           "gw add 10.0.0.2 sport 80a", "gw add 10.0.0.2 user", "gw add 10.0.0.2 port 80",
                           "gw add 10.0.0.2 pass p,ss", "gw add 10.0.0.2 user \"admin\"", "gw add 10.0.0.2 pass a\x01z",
                           "gw add 10.0.0.2 pass a\x7fz"}) {
    steps.push_back({line, 0, kAddUsage, before});
  }
  RunSteps(steps, [] { return Gateways() + (std::filesystem::is_empty(".") ? "" : " and a file"); });
}

// del matches address and port (880 unless given); user and pass play no part.
TEST_F(GwCommandTest, DelMatchesThePort) {
  RunSteps({{"gw del 172.16.0.1", 2, "", kGw},
            {"gw d 172.16.0.1 s 8080 u x p y", 2, "", std::string("-") + kGw},
            {"gw del 172.16.0.2 sport 8080", 2, "", kGw}},
           Gateways, [] {
             ResetRegistries();
             RunCommandLine("gw add 172.16.0.1 sport 8080");
           });
  EXPECT_EQ(RunCommandLine("gw clear").result, 4);
  EXPECT_EQ(RunCommandLine("gw add 172.16.0.1").result, 1) << "a withdrawn gateway is no duplicate";
}

}  // namespace
