#include "command/ServiceCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "command/CommandHandler.h"
#include "platform/Profile.h"
#include "support/Syslog.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

const char kSetUsage[] =
    "service: invalid option\r\n\r\nUsage: service set sport SRC_PORT\r\n\r\nExamples:\r\n"
    "  service set sport 8000\r\n";
const char kUsage[] =
    "service: invalid option\r\n\r\nUsage: service OPERATION [sport SRC_PORT]\r\n\r\nExamples:\r\n"
    "  service set sport 8000\r\n  service save\r\n  service load\r\n  service show\r\n\r\n"
    "OPERATION:         (set/save/load/show)\r\nSRC_PORT:          Port number of Service\r\n";

std::string Shown() { return RunCommandLine("service").reply; }
std::string Settings() { return GetServiceData().portText + "/" + std::to_string(GetServiceData().port); }

class ServiceCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }

  // Every file a command writes lands here, never in the working directory.
  testing_support::TempDir dir_;
};

TEST_F(ServiceCommandTest, SetTakesOnlyAPort) {
  const struct {
    const char* line;
    int result;
    const char *reply, *settings;
  } cases[] = {
      {"service set sport 9000", 1, "", "9000/9000"},
      {"service set s 09001", 1, "", "09001/9001"},
      {"service set  9002", 1, "", "9002/9002"},  // an empty word is read as sport
      {"service set sport 65535", 1, "", "65535/65535"},
      {"service set sport 0", 0, kSetUsage, "8000/8000"},
      {"service set sport 65536", 0, kSetUsage, "8000/8000"},
      {"service set sport 90a", 0, kSetUsage, "8000/8000"},
      {"service set port 9000", 0, kSetUsage, "8000/8000"},
      {"service set sport", 0, kSetUsage, "8000/8000"},
      {"service set sport 9000 sport", 0, kSetUsage, "8000/8000"},
      {"service set sport 9000 x 1", 0, kSetUsage, "8000/8000"},
      {"service show", 0, kUsage, "8000/8000"},
      {"service Set sport 9000", 0, kUsage, "8000/8000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ResetRegistries();
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.reply, c.reply);
    EXPECT_EQ(Settings(), c.settings);
  }
  EXPECT_EQ(RunCommandLine("service set sport 9000").result, 1);
  EXPECT_EQ(Shown(), "PORT\r\n9000\r\n");
}

// Each step runs on what the steps before it left; the ini file is only touched by save.
TEST_F(ServiceCommandTest, SaveLoadClearThroughTheIniFile) {
  const struct {
    const char* ini;  // written first unless null
    const char* line;
    int result;
    const char *reply, *shown, *saved;
  } steps[] = {
      {nullptr, "service load", 3, "", "PORT\r\n8000\r\n", ""},
      {nullptr, "service set sport 9000", 1, "", "PORT\r\n9000\r\n", ""},
      {nullptr, "service save", 0, "", "PORT\r\n9000\r\n", "9000"},
      {nullptr, "service clear", 4, "", "PORT\r\n8000\r\n", "9000"},
      {nullptr, "service load", 3, "", "PORT\r\n9000\r\n", "9000"},
      {"[SERVICE]\r\nPORT=abc\r\n", "service load", 0, "load error\r\n", "PORT\r\nabc\r\n", "abc"},
      {"[SERVICE]\r\nPORT=\r\n", "service load", 0, "load error\r\n", "PORT\r\n", ""},
      {nullptr, "service save now", 0, "service: invalid option\r\n\r\nUsage: service save\r\n", "PORT\r\n", ""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    if (s.ini != nullptr) dir_.Write("Velnor.ini", s.ini);
    const CommandRun run = RunCommandLine(s.line);
    EXPECT_EQ(run.result, s.result);
    EXPECT_TRUE(run.reply.starts_with(s.reply)) << run.reply;
    EXPECT_EQ(Shown(), s.shown);
    EXPECT_EQ(platform::GetPrivateProfileString("SERVICE", "PORT", "", 256, "Velnor.ini"), s.saved);
  }
}

TEST_F(ServiceCommandTest, StartUpLoadAndUnwritableFile) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=0\r\n");
  EXPECT_EQ(ServiceLoad(kNoConnection), 0);
  EXPECT_EQ(Settings(), "0/0");
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=8500\r\n");
  EXPECT_EQ(ServiceLoad(kNoConnection), 3);
  EXPECT_EQ(Settings(), "8500/8500");

  std::remove(dir_.File("Velnor.ini").c_str());
  ASSERT_EQ(::mkdir(dir_.File("Velnor.ini").c_str(), 0755), 0);
  const CommandRun run = RunCommandLine("service save");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.reply, "save error\r\n");
}

}  // namespace
