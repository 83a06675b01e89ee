#include "command/GwrouteCommand.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "command/CommandHandler.h"
#include "support/Syslog.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

const char kAddUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute add TARGET network NW [netmask NM] [dev IF]\r\n\r\n"
    "Examples:\r\n  gwroute add 172.16.0.1 network 192.168.0.0\r\n";
const char kUsageStart[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute OPERATION [TARGET] [network NW] [netmask NM] [dev IF]\r\n";

// The routes of every gateway, withdrawn ones too unless liveOnly: "gw dev network/netmask",
// then + for added and - for deleted.
std::string Routes(bool liveOnly = false) {
  std::string out;
  CGwDataList& gateways = GetGwDataList();
  for (CNacNode* n = gateways.GetHead(false); n != nullptr; n = gateways.GetNext(n, false)) {
    CGwData& g = *n->RecordAs<CGwData>();
    for (CNacNode* r = g.Routes().GetHead(false); r != nullptr; r = g.Routes().GetNext(r, false)) {
      const CGwrouteData& route = *r->RecordAs<CGwrouteData>();
      if (liveOnly && !route.IsLive()) continue;
      out += g.addressText + " " + route.device + " " + route.networkText + "/" + route.netmaskText +
             (route.added ? "+" : "") + (route.deleted ? "-" : "") + "|";
    }
  }
  return out;
}

class GwrouteCommandTest : public ::testing::Test {
 protected:
  // The gateway is found by its address whatever its port.
  void SetUp() override {
    ResetRegistries();
    ASSERT_EQ(RunCommandLine("gw add 172.16.0.1 sport 8080").result, 1);
    ASSERT_EQ(RunCommandLine("gwroute add 172.16.0.1 network 192.168.0.0 netmask 255.255.0.0").result, 1);
  }

  // Every file a command writes lands here, never in the working directory.
  testing_support::TempDir dir_;
};

// What Routes() gives for the routes the steps below add, in order, each live (l) or deleted (d).
std::string Expect(const std::string& marks) {
  static const char* const kRoutes[] = {
      "172.16.0.1  192.168.0.0/255.255.0.0+",
      "172.16.0.1 eth0 192.168.0.0/255.255.255.0+",
      "172.16.0.1  172.20.0.0/255.255.0.0+",
      "172.16.0.1 eth1 245.0.0.0/248.0.0.0+",
  };
  std::string out;
  for (std::size_t i = 0; i < marks.size(); ++i) out += std::string(kRoutes[i]) + (marks[i] == 'd' ? "-|" : "|");
  return out;
}

// Each step runs on what the steps before it left.
TEST_F(GwrouteCommandTest, AddAndDelFollowDeviceAndMaskedNetwork) {
  const struct {
    const char* line;
    int result;
    const char *reply, *marks;
  } steps[] = {
      {"gwroute add 172.16.0.1 network 192.168.0.0 netmask 255.255.255.0", 0, "duplication of data\r\n", "l"},
      {"gwroute add 172.16.0.1 n 192.168.0.0 d eth0", 1, "", "ll"},
      {"gwroute add 172.16.0.1  network 172.20.0.0", 1, "", "lll"},
      {"gwroute add 172.16.0.1 network 245.0.0.0 dev eth1", 1, "", "llll"},
      {"gwroute del 172.16.0.1 network 192.168.0.0 dev eth9", 2, "", "llll"},
      {"gwroute del 172.16.0.1 network 192.168.0.0 dev eth0", 2, "", "ldll"},
      {"gwroute del 172.16.0.1 network 172.20.0.0", 2, "", "lddl"},
      {"gwroute del 172.16.0.1 network 192.168.0.0", 2, "", "dddl"},
      {"gwroute del 172.16.0.1 network 245.0.0.0 dev eth1", 2, "", "dddd"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    const CommandRun run = RunCommandLine(s.line);
    EXPECT_EQ(run.result, s.result);
    EXPECT_EQ(run.reply, s.reply);
    EXPECT_EQ(Routes(), Expect(s.marks));
  }
}

TEST_F(GwrouteCommandTest, RefusalsChangeNothing) {
  const std::string before = Routes();
  const struct {
    const char *line, *reply;
  } cases[] = {
      {"gwroute add 172.16.0.1 network", kAddUsage},
      {"gwroute add 172.16.0.9 network 10.0.0.0", "TARGET is not registered.\r\n"},
      {"gwroute add 172.16.0.1 network 250.0.0.0", kAddUsage},
      {"gwroute add 172.16.0.1 netmask 255.255.0.0 dev eth0", kAddUsage},
      {"gwroute add 172.16.0.1 network 10.0.0.0 netmask 255.0.255.0", kAddUsage},
      {"gwroute add gw1 network 10.0.0.0", kAddUsage},
      {"gwroute del 172.16.0.9 network 192.168.0.0", "TARGET is not registered.\r\n"},
      {"gwroute del 172.16.0.1 network", "gwroute: invalid option\r\n\r\nUsage: gwroute del TARGET"},
      {"gwroute del 172.16.0.1 network 192.168.0.0 dev", "gwroute: invalid option\r\n\r\nUsage: gwroute del"},
      {"gwroute clear all", "gwroute: invalid option\r\n\r\nUsage: gwroute clear\r\n"},
      {"gwroute save all", "gwroute: invalid option\r\n\r\nUsage: gwroute save\r\n"},
      {"gwroute load all", "gwroute: invalid option\r\n\r\nUsage: gwroute load\r\n"},
      {"gwroute sh", kUsageStart},
      {"gwroute a 172.16.0.1 network 10.0.0.0", kUsageStart},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.reply.starts_with(c.reply)) << run.reply;
    EXPECT_EQ(Routes(), before);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
  }
  EXPECT_EQ(RunCommandLine("gwroute add 172.16.0.1 network").reply, kAddUsage);
}

// A column shorter than 8 characters takes two TABs; routes of deleted gateways are not listed.
TEST_F(GwrouteCommandTest, ShowLinesUpColumns) {
  for (const char* line : {"gwroute add 172.16.0.1 network 10.0.0.0 dev eth0",
                           "gwroute add 172.16.0.1 network 192.168.100.0 dev external0", "gw add 10.0.0.1",
                           "gwroute add 10.0.0.1 network 10.9.0.0", "gw del 10.0.0.1"}) {
    ASSERT_GT(RunCommandLine(line).result, 0) << line;
  }
  for (const char* show : {"gwroute", "gwroute show all"}) {
    const CommandRun run = RunCommandLine(show);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.reply,
              "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n"
              "172.16.0.1\t\t\t192.168.0.0\t255.255.0.0\r\n"
                             "172.16.0.1\teth0\t\t10.0.0.0\t255.0.0.0\r\n"
                             "172.16.0.1\texternal0\t192.168.100.0\t255.255.255.0\r\n")
        << show;
  }
}

TEST_F(GwrouteCommandTest, SaveClearLoadThroughTheFile) {
  ASSERT_EQ(RunCommandLine("gwroute add 172.16.0.1 network 10.0.0.0 dev eth0").result, 1);
  const std::string saved = Routes(true);
  EXPECT_EQ(RunCommandLine("gwroute save").reply, "");
  EXPECT_EQ(dir_.Read("gwroute.csv"),
            "\"172.16.0.1\",,\"192.168.0.0\",\"255.255.0.0\"\r\n\"172.16.0.1\",\"eth0\",\"10.0.0.0\",\"255.0.0.0\"\r\n");

  const std::string twice = "172.16.0.1  10.2.0.0/255.255.0.0+|172.16.0.1  10.2.0.0/255.255.0.0+|";
  const struct {
    const char* file;  // written first unless null; empty removes it
    const char* line;
    int result;
    const char* reply;
    std::string live;
  } steps[] = {
      {nullptr, "gwroute clear", 4, "", ""},
      {nullptr, "gwroute load", 3, "", saved},
      {"", "gwroute load", 0, "load error\r\n", ""},
      {"\"172.16.0.9\",,\"10.0.0.0\",\r\n\"172.16.0.1\",,\"10.2.0.0\",\"255.255.0.0\"\r\n,,\"10.2.0.0\",\"255.255.0.0\"\r\n",
       "gwroute load", 3, "", twice},
      {"\"172.16.0.1\",,\"10.3.0.0\",\"255.0.255.0\"\r\n", "gwroute load", 0, "memory throw\r\n", ""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    if (s.file != nullptr && *s.file == '\0') std::remove(dir_.File("gwroute.csv").c_str());
    if (s.file != nullptr && *s.file != '\0') dir_.Write("gwroute.csv", s.file);
    const CommandRun run = RunCommandLine(s.line);
    EXPECT_EQ(run.result, s.result);
    EXPECT_EQ(run.reply, s.reply);
    EXPECT_EQ(Routes(true), s.live);
  }
  // The controller's start-up load has no one to answer.
  EXPECT_EQ(GwrouteLoad(kNoConnection), 0);
}

}  // namespace
