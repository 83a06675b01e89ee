#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"

namespace {

const std::string kAddUsage =
    "quarantine: invalid option\r\n\r\nUsage: quarantine add source SRC_IP protocol PROTO sport SRC_PORT\r\n\r\n"
    "Examples:\r\n  quarantine add source 172.17.254.254 protocol tcp sport 4208\r\n";
const std::string kAdd = "quarantine add source 172.17.254.254 protocol tcp sport 4208";

// "source protocol port" per record.
std::string Servers() {
  return testing_support::Dump<CQuarantineData>(GetQuarantineDataList(), [](const CQuarantineData& s) {
    return s.sourceText + " " + s.protocol + " " + s.portText;
  });
}

using QuarantineCommandTest = CommandTest;

TEST_F(QuarantineCommandTest, AddNeedsAddressProtocolAndPort) {
  std::vector<Step> steps = {
      {kAdd, 1, "", "172.17.254.254 tcp 4208+;"},
      {"quarantine add sport 4208 protocol udp source 10.1.1.1", 1, "", "10.1.1.1 udp 4208+;"},
      {"quarantine add s 10.1.1.1 p tcp6  sp 080", 1, "", "10.1.1.1 tcp6 080+;"},
      {"quarantine add source 10.1.1.1 protocol udp sport 1 sport 65535", 1, "", "10.1.1.1 udp 65535+;"},
  };
  for (const char* refused : {"quarantine add source 10.1.1.1 protocol TCP sport 80",
                              "quarantine add source 10.1.1.1 protocol t sport 80",
                              "quarantine add source 10.1.1.1 protocol icmp sport 80",
                              "quarantine add source 10.1.1.1 protocol tcp sport 65536",
                              "quarantine add source 10.1.1.1 protocol tcp sport 0",
                              "quarantine add source 10.1.1.1 protocol tcp source 10.1.1.2", "quarantine add",
                              "quarantine add source 10.1.1.1 protocol tcp sport",
                              "quarantine add source 10.1.1.1 proto tcp port 80",
                              "quarantine add source 10.1.1.256 protocol tcp sport 80",
                              "quarantine add source 10.1.1.1 protocol tcp,udp sport 80"}) {
    steps.push_back({refused, 0, kAddUsage, ""});
  }
  RunSteps(steps, Servers, ResetRegistries);
}

TEST_F(QuarantineCommandTest, DuplicatesAndDeletion) {
  const std::string two = "172.17.254.254 tcp 4208+;172.17.254.254 udp 4208+;";
  const std::string one = "-172.17.254.254 tcp 4208+;172.17.254.254 udp 4208+;";
  RunSteps({{kAdd, 1, "", "172.17.254.254 tcp 4208+;"},
            {"quarantine add source 172.17.254.254 protocol udp sport 4208", 1, "", two},
            {kAdd, 0, "duplication of data\r\n", two},
            {"quarantine del source 172.17.254.254 protocol tcp x 4208", 0,
             "quarantine: invalid option\r\n\r\nUsage: quarantine del source...", two},
            {"quarantine del source 172.17.254.254 protocol tcp sport 04208", 2, "", two},  // no match
            {"quarantine del source 172.17.254.254 protocol tcp sport 4208", 2, "", one},
            {"quarantine list", 0, "quarantine: invalid option\r\n\r\nUsage: quarantine OPERATION...", one}},
           Servers);
}

// Deleted servers are not listed; a server without address (no command stores one) ends the listing.
TEST_F(QuarantineCommandTest, ShowListsLiveServersWithTabColumns) {
  for (const char* line : {"quarantine add source 1.2.3.4 protocol udp sport 53",
                           "quarantine add source 10.0.0.1 protocol tcp sport 80",
                           "quarantine del source 10.0.0.1 protocol tcp sport 80", kAdd.c_str()}) {
    ASSERT_GT(RunCommandLine(line).result, 0) << line;
  }
  auto* unnamed = new CQuarantineData();
  unnamed->protocol = "tcp";
  ASSERT_EQ(GetQuarantineDataList().AddUnique(unnamed), 0);
  RunCommandLine("quarantine add source 10.0.0.2 protocol tcp sport 80");
  const std::string listing = "DESTINATION\tPROTOCOL\tPORT\r\n1.2.3.4\t\tudp\t\t53\r\n172.17.254.254\ttcp\t\t4208\r\n";
  for (const char* line : {"quarantine show", "quarantine", "quarantine show x"}) {
    EXPECT_EQ(RunCommandLine(line), (CommandRun{0, listing})) << line;
  }
}

}  // namespace
