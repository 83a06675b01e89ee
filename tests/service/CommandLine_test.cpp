#include "service/CommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// RegServer wins over Service whatever the order, the first of UnregServer and RegServer
// wins, and a switch is a whole word after '-' or '/', in any case.
TEST(CommandLineTest, FindsTheSwitchThatWins) {
  const struct {
    const char* line;
    ServiceSwitch expected;
  } cases[] = {
      {"-Service -RegServer", ServiceSwitch::kRegServer},
      {"-RegServer -Service", ServiceSwitch::kRegServer},
      {"/Service /RegServer", ServiceSwitch::kRegServer},
      {"-UnregServer -RegServer", ServiceSwitch::kUnregServer},
      {"-RegServer -UnregServer", ServiceSwitch::kRegServer},
      {"-Service -UnregServer -RegServer", ServiceSwitch::kUnregServer},
      {"-sErViCe", ServiceSwitch::kService},
      {"-unregserver", ServiceSwitch::kUnregServer},
      {"-x /regserver", ServiceSwitch::kRegServer},
      {"-Services", ServiceSwitch::kNone},
      {"-RegServerX", ServiceSwitch::kNone},
      {"-UnregServer2 -Service", ServiceSwitch::kService},
      {"-Serv", ServiceSwitch::kNone},
      {"-Reg Server", ServiceSwitch::kNone},
      {"- Service", ServiceSwitch::kNone},
      {"-RegServer\t-Service", ServiceSwitch::kRegServer},
      {"-x\t/UnregServer", ServiceSwitch::kUnregServer},
      {"", ServiceSwitch::kNone},
      {"Service", ServiceSwitch::kNone},
      {"/", ServiceSwitch::kNone},
      {"-verbose /x", ServiceSwitch::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(FindServiceSwitch(c.line), c.expected) << "\"" << c.line << "\"";
}

TEST(CommandLineTest, ArgumentsAreJoinedByBlanksWithoutTheProgramName) {
  std::string program = "velnor", first = "-RegServer", second = "extra";
  char* argv[] = {program.data(), first.data(), second.data(), nullptr};
  EXPECT_EQ(JoinArguments(3, argv), "-RegServer extra");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

}  // namespace
