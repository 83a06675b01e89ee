#include "command/GwCommand.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/Syslog.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

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

// Every record, deleted ones included, with its flags.
std::string Registry() {
  std::string out;
  CGwDataList& list = GetGwDataList();
  for (CNacNode* n = list.GetHead(false); n != nullptr; n = list.GetNext(n, false)) {
    const CGwData& g = *n->RecordAs<CGwData>();
    out += g.addressText + ":" + std::to_string(g.port) + ":" + g.user + ":" + g.password +
           (g.added ? " +" : "") + (g.deleted ? " -" : "") + "|";
  }
  return out;
}

class GwCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }

  // Every file a command writes lands here, never in the working directory.
  testing_support::TempDir dir_;
};

TEST_F(GwCommandTest, ShowLinesUpColumnsAndHidesPassword) {
  const struct {
    const char *add, *line;
  } cases[] = {
      {"gw add 172.16.0.1", "172.16.0.1\t880\tadmin\t********\r\n"},
      {"gw a 10.0.0.1 s 8080 u root", "10.0.0.1\t8080\troot\t********\r\n"},
      {"gw  1.2.3.4 pass  user op", "1.2.3.4\t\t880\top\t\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.add);
    ResetRegistries();
    EXPECT_EQ(RunCommandLine(c.add).result, 1);
    for (const char* show : {"gw", "gw sh", "gw show all"}) {
      const CommandRun run = RunCommandLine(show);
      EXPECT_EQ(run.result, 0);
      EXPECT_EQ(run.reply, std::string(kHeader) + c.line) << show;
    }
  }
}

// A refused line answers with its text and leaves the registry as it was.
TEST_F(GwCommandTest, RefusalsChangeNothing) {
  ASSERT_EQ(RunCommandLine("gw add 172.16.0.1").result, 1);
  const std::string before = Registry();
  const struct {
    const char *line, *reply;
  } cases[] = {
      {"gw add", kAddUsage},
      {"gw add 172.16.0.300", kAddUsage},
      {"gw add 10.0.0.2 sport 0", kAddUsage},
      {"gw add 10.0.0.2 sport 65536", kAddUsage},
      {"gw add 10.0.0.2 sport 80a", kAddUsage},
      {"gw add 10.0.0.2 user", kAddUsage},
      {"gw add 10.0.0.2 port 80", kAddUsage},
      {"gw add 172.16.0.1 sport 8080", "duplication of data\r\n"},
      {"gw delete 172.16.0.1", kUsage},
      {"gw x", kUsage},
      {"gw del", "gw: invalid option\r\n\r\nUsage: gw del TARGET"},
      {"gw del 172.16.0.1 sport x", "gw: invalid option\r\n\r\nUsage: gw del TARGET"},
      {"gw save now", "gw: invalid option\r\n\r\nUsage: gw save\r\n"},
      {"gw load now", "gw: invalid option\r\n\r\nUsage: gw load\r\n"},
      {"gw clear now", "gw: invalid option\r\n\r\nUsage: gw clear\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.reply.starts_with(c.reply)) << run.reply;
    EXPECT_EQ(Registry(), before);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
  }
  EXPECT_EQ(RunCommandLine("gw add").reply, kAddUsage);
  EXPECT_EQ(RunCommandLine("gw x").reply, kUsage);
}

// del matches address and port (880 unless given); user and pass play no part.
TEST_F(GwCommandTest, DelMatchesThePort) {
  const struct {
    const char* del;
    const char* after;
  } cases[] = {
      {"gw del 172.16.0.1", "172.16.0.1:8080:admin:tovin +|"},
      {"gw d 172.16.0.1 s 8080 u x p y", "172.16.0.1:8080:admin:tovin + -|"},
      {"gw del 172.16.0.2 sport 8080", "172.16.0.1:8080:admin:tovin +|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.del);
    ResetRegistries();
    ASSERT_EQ(RunCommandLine("gw add 172.16.0.1 sport 8080").result, 1);
    const CommandRun run = RunCommandLine(c.del);
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(run.reply, "");
    EXPECT_EQ(Registry(), c.after);
  }
  EXPECT_EQ(RunCommandLine("gw clear").result, 4);
  EXPECT_EQ(RunCommandLine("gw add 172.16.0.1").result, 1) << "a deleted gateway is no duplicate";
}

TEST_F(GwCommandTest, SaveClearLoadThroughTheFile) {
  ASSERT_EQ(RunCommandLine("gw add 172.16.0.1 sport 8080").result, 1);
  const struct {
    const char* line;
    int result;
    const char *reply, *registry;
  } steps[] = {
      {"gw s", 0, "", "172.16.0.1:8080:admin:tovin +|"},
      {"gw c", 4, "", "172.16.0.1:8080:admin:tovin + -|"},
      {"gw sh", 0, kHeader, "172.16.0.1:8080:admin:tovin + -|"},
      {"gw l", 3, "", "172.16.0.1:8080:admin:tovin + -|172.16.0.1:8080:admin:tovin +|"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    const CommandRun run = RunCommandLine(s.line);
    EXPECT_EQ(run.result, s.result);
    EXPECT_EQ(run.reply, s.reply);
    EXPECT_EQ(Registry(), s.registry);
  }
  EXPECT_EQ(dir_.Read("gw.csv"), "\"172.16.0.1\",8080,\"admin\",\"tovin\"\r\n");

  std::remove(dir_.File("gw.csv").c_str());
  const CommandRun missing = RunCommandLine("gw load");
  EXPECT_EQ(missing.result, 3);
  EXPECT_EQ(missing.reply, "load error\r\n");
}

}  // namespace
