#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"
#include "tests/common/TempDir.h"

namespace {

const std::string kAddUsage =
    "quarantine: invalid option\r\n\r\nUsage: quarantine add source SRC_IP protocol PROTO sport SRC_PORT\r\n\r\n"
    "Examples:\r\n  quarantine add source 172.17.254.254 protocol tcp sport 4208\r\n";
const std::string kAdd = "quarantine add source 172.17.254.254 protocol tcp sport 4208";

// "source protocol port" per record in list order; a deleted one with a leading '-'.
std::string Servers() {
  std::string text;
  CQuarantineDataList& list = GetQuarantineDataList();
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CQuarantineData& server = *node->RecordAs<CQuarantineData>();
    text += (server.IsLive() ? "" : "-") + server.sourceText + " " + server.protocol + " " + server.portText + ";";
  }
  return text;
}

class QuarantineCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }
};

// An empty expected server list means the add was refused with the add usage text.
TEST_F(QuarantineCommandTest, AddNeedsAddressProtocolAndPort) {
  struct Case {
    std::string line;
    std::string servers;
  } cases[] = {
      {kAdd, "172.17.254.254 tcp 4208;"},
      {"quarantine add sport 4208 protocol udp source 10.1.1.1", "10.1.1.1 udp 4208;"},
      {"quarantine add s 10.1.1.1 p tcp6  sp 080", "10.1.1.1 tcp6 080;"},
      {"quarantine add source 10.1.1.1 protocol udp sport 1 sport 65535", "10.1.1.1 udp 65535;"},
      {"quarantine add source 10.1.1.1 protocol TCP sport 80", ""},
      {"quarantine add source 10.1.1.1 protocol t sport 80", ""},
      {"quarantine add source 10.1.1.1 protocol icmp sport 80", ""},
      {"quarantine add source 10.1.1.1 protocol tcp sport 65536", ""},
      {"quarantine add source 10.1.1.1 protocol tcp sport 0", ""},
      {"quarantine add source 10.1.1.1 protocol tcp source 10.1.1.2", ""},
      {"quarantine add", ""},
      {"quarantine add source 10.1.1.1 protocol tcp sport", ""},
      {"quarantine add source 10.1.1.1 proto tcp port 80", ""},
      {"quarantine add source 10.1.1.256 protocol tcp sport 80", ""},
  };
  for (const Case& c : cases) {
    ResetRegistries();
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, c.servers.empty() ? 0 : 1) << c.line;
    EXPECT_EQ(run.reply, c.servers.empty() ? kAddUsage : "") << c.line;
    EXPECT_EQ(Servers(), c.servers) << c.line;
  }
}

TEST_F(QuarantineCommandTest, DuplicatesDeletionAndClear) {
  ASSERT_EQ(RunCommandLine(kAdd).result, 1);
  ASSERT_EQ(RunCommandLine("quarantine add source 172.17.254.254 protocol udp sport 4208").result, 1);
  const CommandRun again = RunCommandLine(kAdd);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.reply, "duplication of data\r\n");

  const CommandRun refused = RunCommandLine("quarantine del source 172.17.254.254 protocol tcp x 4208");
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.reply.rfind("quarantine: invalid option\r\n\r\nUsage: quarantine del source", 0), 0u);
  EXPECT_EQ(RunCommandLine("quarantine del source 172.17.254.254 protocol tcp sport 04208").result, 2);
  const CommandRun clear = RunCommandLine("quarantine clear all");
  EXPECT_EQ(clear.result, 0);
  EXPECT_EQ(clear.reply,
            "quarantine: invalid option\r\n\r\nUsage: quarantine clear\r\n\r\nExamples:\r\n  quarantine clear\r\n");
  EXPECT_EQ(Servers(), "172.17.254.254 tcp 4208;172.17.254.254 udp 4208;");

  const CommandRun del = RunCommandLine("quarantine del source 172.17.254.254 protocol tcp sport 4208");
  EXPECT_EQ(del.result, 2);
  EXPECT_EQ(del.reply, "");
  EXPECT_EQ(Servers(), "-172.17.254.254 tcp 4208;172.17.254.254 udp 4208;");
  EXPECT_EQ(RunCommandLine("quarantine clear").result, 4);
  EXPECT_EQ(Servers(), "-172.17.254.254 tcp 4208;-172.17.254.254 udp 4208;");
}

TEST_F(QuarantineCommandTest, ShowListsLiveServersWithTabColumns) {
  RunCommandLine("quarantine add source 1.2.3.4 protocol udp sport 53");
  RunCommandLine("quarantine add source 10.0.0.1 protocol tcp sport 80");
  RunCommandLine("quarantine del source 10.0.0.1 protocol tcp sport 80");
  RunCommandLine(kAdd);
  auto* unnamed = new CQuarantineData();  // no command stores one; the listing stops at it
  unnamed->protocol = "tcp";
  ASSERT_EQ(GetQuarantineDataList().AddUnique(unnamed), 0);
  RunCommandLine("quarantine add source 10.0.0.2 protocol tcp sport 80");
  const std::string listing =
      "DESTINATION\tPROTOCOL\tPORT\r\n1.2.3.4\t\tudp\t\t53\r\n172.17.254.254\ttcp\t\t4208\r\n";
  for (const char* line : {"quarantine show", "quarantine", "quarantine show x"}) {
    const CommandRun run = RunCommandLine(line);
    EXPECT_EQ(run.result, 0) << line;
    EXPECT_EQ(run.reply, listing) << line;
  }
  const CommandRun other = RunCommandLine("quarantine list");
  EXPECT_EQ(other.result, 0);
  EXPECT_EQ(other.reply.rfind("quarantine: invalid option\r\n\r\nUsage: quarantine OPERATION", 0), 0u);
}

TEST_F(QuarantineCommandTest, SaveAndLoadThroughQuarantineCsv) {
  testing_support::TempDir dir;
  RunCommandLine(kAdd);
  const CommandRun refused = RunCommandLine("quarantine save now");
  EXPECT_EQ(refused.reply.rfind("quarantine: invalid option\r\n\r\nUsage: quarantine save\r\n", 0), 0u);
  const CommandRun save = RunCommandLine("quarantine save");
  EXPECT_EQ(save.result, 0);
  EXPECT_EQ(save.reply, "");
  EXPECT_EQ(dir.Read("quarantine.csv"), "\"172.17.254.254\",\"tcp\",\"4208\"\r\n");

  ResetRegistries();
  const CommandRun load = RunCommandLine("quarantine load");
  EXPECT_EQ(load.result, 3);
  EXPECT_EQ(load.reply, "");
  EXPECT_EQ(Servers(), "172.17.254.254 tcp 4208;");

  RunCommandLine("quarantine clear");
  RunCommandLine("quarantine save");
  EXPECT_EQ(dir.Read("quarantine.csv"), "");
  dir.Write("quarantine.csv", "\"10.0.0.1\",\"TCP\",\"80\"\r\n");
  const CommandRun bad = RunCommandLine("quarantine load");
  EXPECT_EQ(bad.result, 3);
  EXPECT_EQ(bad.reply, "load error\r\n");
}

}  // namespace
