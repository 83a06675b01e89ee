#include "command/ServiceCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "command/CommandHandler.h"
#include "platform/IniFile.h"
#include "tests/command/CommandHarness.h"

namespace {

const char kSetUsage[] =
    "service: invalid option\r\n\r\nUsage: service set sport SRC_PORT\r\n\r\nExamples:\r\n"
    "  service set sport 8000\r\n";
const char kUsage[] =
    "service: invalid option\r\n\r\nUsage: service OPERATION [sport SRC_PORT]\r\n\r\nExamples:\r\n"
    "  service set sport 8000\r\n  service save\r\n  service load\r\n  service show\r\n\r\n"
    "OPERATION:         (set/save/load/show)\r\nSRC_PORT:          Port number of Service\r\n";

std::string Settings() { return GetServiceData().portText + "/" + std::to_string(GetServiceData().port); }
// What "service" shows, then the port saved in Velnor.ini.
std::string ShownAndSaved() {
  return RunCommandLine("service").reply + "|" +
         platform::ReadIniString("SERVICE", "PORT", "", 256, "Velnor.ini");
}

using ServiceCommandTest = CommandTest;

TEST_F(ServiceCommandTest, SetTakesOnlyAPort) {
  std::vector<Step> steps = {{"service set sport 9000", 1, "", "9000/9000"},
                             {"service set s 09001", 1, "", "09001/9001"},
                             {"service set  9002", 1, "", "9002/9002"},  // an empty word is read as sport
                             {"service set sport 65535", 1, "", "65535/65535"},
                             {"service show", 0, kUsage, "8000/8000"},
                             {"service Set sport 9000", 0, kUsage, "8000/8000"}};
  for (const char* line : {"service set sport 0", "service set sport 65536", "service set sport 90a",
                           "service set port 9000", "service set sport", "service set sport 9000 sport",
                           "service set sport 9000 x 1"}) {
    steps.push_back({line, 0, kSetUsage, "8000/8000"});
  }
  RunSteps(steps, Settings, ResetRegistries);
}

// Only save touches the ini file.
TEST_F(ServiceCommandTest, SaveLoadClearThroughTheIniFile) {
  RunSteps({{"service load", 3, "", "PORT\r\n8000\r\n|"},
            {"service set sport 9000", 1, "", "PORT\r\n9000\r\n|"},
            {"service save", 0, "", "PORT\r\n9000\r\n|9000"},
            {"service clear", 4, "", "PORT\r\n8000\r\n|9000"},
            {"service load", 3, "", "PORT\r\n9000\r\n|9000"}},
           ShownAndSaved);
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=abc\r\n");
  RunSteps({{"service load", 0, "load error\r\n", "PORT\r\nabc\r\n|abc"}}, ShownAndSaved);
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=\r\n");
  RunSteps({{"service load", 0, "load error\r\n", "PORT\r\n|"},
            {"service save now", 0, "service: invalid option\r\n\r\nUsage: service save\r\n...", "PORT\r\n|"}},
           ShownAndSaved);
}

TEST_F(ServiceCommandTest, StartUpLoadAndUnwritableFile) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=0\r\n");
  EXPECT_FALSE(LoadServiceData());
  EXPECT_EQ(Settings(), "0/0");
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=8500\r\n");
  EXPECT_TRUE(LoadServiceData());
  EXPECT_EQ(Settings(), "8500/8500");
  std::filesystem::remove("Velnor.ini");
  ASSERT_TRUE(std::filesystem::create_directory("Velnor.ini"));
  EXPECT_EQ(RunCommandLine("service save"), (CommandRun{0, "save error\r\n"}));
}

}  // namespace
