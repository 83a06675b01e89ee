#include "service/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
  const char* line;
  ServiceSwitch expected;
};

void ExpectSwitches(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(FindServiceSwitch(c.line), c.expected) << "command line: \"" << c.line << "\"";
  }
}

TEST(CommandLineTest, RegServerWinsOverServiceWhateverTheOrder) {
  ExpectSwitches({
      {"-Service -RegServer", ServiceSwitch::kRegServer},
      {"-RegServer -Service", ServiceSwitch::kRegServer},
      {"-regserver -service", ServiceSwitch::kRegServer},
      {"/Service /RegServer", ServiceSwitch::kRegServer},
  });
}

TEST(CommandLineTest, FirstOfUnregServerAndRegServerWins) {
  ExpectSwitches({
      {"-UnregServer -RegServer", ServiceSwitch::kUnregServer},
      {"-RegServer -UnregServer", ServiceSwitch::kRegServer},
      {"-Service -UnregServer", ServiceSwitch::kUnregServer},
      {"-Service -UnregServer -RegServer", ServiceSwitch::kUnregServer},
  });
}

TEST(CommandLineTest, SwitchNamesIgnoreCase) {
  ExpectSwitches({
      {"-service", ServiceSwitch::kService},
      {"-SERVICE", ServiceSwitch::kService},
      {"-sErViCe", ServiceSwitch::kService},
      {"-regserver", ServiceSwitch::kRegServer},
      {"-REGSERVER", ServiceSwitch::kRegServer},
      {"-unregserver", ServiceSwitch::kUnregServer},
      {"-UNREGSERVER", ServiceSwitch::kUnregServer},
  });
}

TEST(CommandLineTest, SlashIntroducesASwitchLikeDash) {
  ExpectSwitches({
      {"/Service", ServiceSwitch::kService},
      {"/RegServer", ServiceSwitch::kRegServer},
      {"/UnregServer", ServiceSwitch::kUnregServer},
      {"-x /regserver", ServiceSwitch::kRegServer},
  });
}

// The word ends at a blank, a tab or the end of the line, and must be the whole name.
TEST(CommandLineTest, OnlyTheWholeWordCounts) {
  ExpectSwitches({
      {"-Services", ServiceSwitch::kNone},
      {"-RegServerX", ServiceSwitch::kNone},
      {"-UnregServer2 -Service", ServiceSwitch::kService},
      {"-Serv", ServiceSwitch::kNone},
      {"-Reg Server", ServiceSwitch::kNone},
      {"- Service", ServiceSwitch::kNone},
      {"-RegServer\t-Service", ServiceSwitch::kRegServer},
      {"-Service\t", ServiceSwitch::kService},
      {"-x\t/UnregServer", ServiceSwitch::kUnregServer},
  });
}

TEST(CommandLineTest, LineWithoutSwitchFindsNone) {
  ExpectSwitches({
      {"", ServiceSwitch::kNone},
      {"Service", ServiceSwitch::kNone},
      {"RegServer UnregServer", ServiceSwitch::kNone},
      {"-", ServiceSwitch::kNone},
      {"/", ServiceSwitch::kNone},
      {"-verbose /x", ServiceSwitch::kNone},
  });
}

TEST(CommandLineTest, ArgumentsAreJoinedByBlanksWithoutTheProgramName) {
  std::string program = "velnor", first = "-RegServer", second = "extra";
  char* argv[] = {program.data(), first.data(), second.data(), nullptr};
  EXPECT_EQ(JoinArguments(3, argv), "-RegServer extra");
  EXPECT_EQ(JoinArguments(1, argv), "");
  EXPECT_EQ(FindServiceSwitch(JoinArguments(3, argv)), ServiceSwitch::kRegServer);
}

}  // namespace
