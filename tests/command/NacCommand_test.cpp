#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"

namespace {

const std::string kAddUsage =
    "nac: invalid option\r\n\r\nUsage: nac add TARGET source SRC_IP [source-mac SRC_MAC]\r\n\r\n"
    "Examples:\r\n  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n";
const std::string kShowUsage = "nac: invalid option\r\n\r\nUsage: nac show\r\n\r\nExamples:\r\n  nac show\r\n";
const std::string kHeader = "TARGET\tDESTINATION\tADDRESS\t\t\tFQDN\r\n";

// "target source mac" per entry in list order; a deleted entry is written with a leading '-'.
std::string Entries() {
  std::string text;
  CNacDataList& list = GetNacDataList();
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CNacData& entry = *node->RecordAs<CNacData>();
    text += (entry.IsLive() ? "" : "-") + std::to_string(entry.target) + " " + entry.sourceText + " " +
            entry.macText + ";";
  }
  return text;
}

class NacCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }
};

TEST_F(NacCommandTest, AddReadsTargetAndOptions) {
  struct Case {
    const char* line;
    std::int32_t result;
    std::string reply;
    std::string entries;
  } cases[] = {
      {"nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00", 1, "", "1 192.168.0.1 00:00:00:00:00:00;"},
      {"nac add a s 10.0.0.1", 1, "", "1 10.0.0.1 ;"},
      {"nac add acc source 10.0.0.1", 1, "", "1 10.0.0.1 ;"},
      {"nac add d source 10.0.0.1", 1, "", "2 10.0.0.1 ;"},
      {"nac add dr source- aa-bb-cc-dd-ee-ff  source 10.0.0.1", 1, "", "2 10.0.0.1 AA:BB:CC:DD:EE:FF;"},
      {"nac add  source 10.0.0.1", 1, "", "1 10.0.0.1 ;"},  // an empty TARGET word is accept
      {"nac add accept source 10.0.0.1 source 10.0.0.2", 1, "", "1 10.0.0.2 ;"},
      {"nac add x source 10.0.0.1", 0, kAddUsage, ""},
      {"nac add accept source-mac 00:11:22:33:44:55", 0, kAddUsage, ""},
      {"nac add", 0, kAddUsage, ""},
      {"nac add accept source", 0, kAddUsage, ""},
      {"nac add accept source 10.0.0.300", 0, kAddUsage, ""},
      {"nac add accept source 10.0.0.1 source-mac", 0, kAddUsage, ""},
      {"nac add accept source 10.0.0.1 port 80", 0, kAddUsage, ""},
      {"nac add accept source 10.0.0.1 source-mac 00:11:22:33:44", 0, kAddUsage, ""},
  };
  for (const Case& c : cases) {
    ResetRegistries();
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, c.result) << c.line;
    EXPECT_EQ(run.reply, c.reply) << c.line;
    EXPECT_EQ(Entries(), c.entries) << c.line;
  }
}

TEST_F(NacCommandTest, DuplicatesAndDeletion) {
  const char* add = "nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:01";
  EXPECT_EQ(RunCommandLine(add).result, 1);
  const CommandRun again = RunCommandLine(add);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.reply, "duplication of data\r\n");
  EXPECT_EQ(RunCommandLine("nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:02").result, 1);
  EXPECT_EQ(RunCommandLine("nac add drop source 192.168.0.1").result, 1);

  const CommandRun refused = RunCommandLine("nac del accept source-mac 00:00:00:00:00:01 x");
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.reply.rfind("nac: invalid option\r\n\r\nUsage: nac del TARGET", 0), 0u) << refused.reply;
  EXPECT_EQ(RunCommandLine("nac del drop source 10.9.9.9").result, 2);  // no match, still 2
  EXPECT_EQ(Entries(),
            "1 192.168.0.1 00:00:00:00:00:01;1 192.168.0.1 00:00:00:00:00:02;2 192.168.0.1 ;");

  const CommandRun del = RunCommandLine("nac del a source 192.168.0.1");
  EXPECT_EQ(del.result, 2);
  EXPECT_EQ(del.reply, "");
  EXPECT_EQ(Entries(),
            "-1 192.168.0.1 00:00:00:00:00:01;-1 192.168.0.1 00:00:00:00:00:02;2 192.168.0.1 ;");
}

TEST_F(NacCommandTest, ShowListsLiveEntriesWithTabColumns) {
  RunCommandLine("nac add accept source 192.168.0.1 source-mac 00:11:22:33:44:55");
  RunCommandLine("nac add drop source 1.2.3.4");
  RunCommandLine("nac add accept source 10.0.0.1");
  RunCommandLine("nac del accept source 10.0.0.1");
  const std::string listing =
      kHeader + "accept\t192.168.0.1\t00:11:22:33:44:55\r\n" + "drop\t1.2.3.4\t\t\r\n";
  for (const char* line : {"nac show", "nac"}) {
    const CommandRun run = RunCommandLine(line);
    EXPECT_EQ(run.result, 0) << line;
    EXPECT_EQ(run.reply, listing) << line;
  }
  for (const char* line : {"nac show source 192.168.0.1", "nac show source-mac 00:11:22:33:44:55", "nac show x"}) {
    const CommandRun run = RunCommandLine(line);
    EXPECT_EQ(run.result, 0) << line;
    EXPECT_EQ(run.reply, kShowUsage) << line;
  }
}

TEST_F(NacCommandTest, OtherWordsGetTheirTextsAndChangeNothing) {
  const std::string usage =
      "nac: invalid option\r\n\r\nUsage: nac OPERATION [TARGET] [source SRC_IP] [source-mac SRC_MAC]\r\n\r\n"
      "Examples:\r\n  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n"
      "  nac del accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n  nac show\r\n\r\n"
      "OPERATION:         (add/del/show)\r\nTARGET:            (accept/drop)\r\n"
      "SRC_IP:            IP address of PC\r\nSRC_MAC:           MAC address of PC\r\n"
      "SRC_FQDN:          FQDN of PC\r\n";
  RunCommandLine("nac add accept source 10.0.0.1");
  struct Case {
    const char* line;
    std::string reply;
  } cases[] = {
      {"nac stop source 10.0.0.1",
       "nac: invalid option\r\n\r\nUsage: nac stop\r\n\r\nExamples:\r\n  nac stop\r\n\r\nNonimplement\r\n"},
      {"nac start",
       "nac: invalid option\r\n\r\nUsage: nac start\r\n\r\nExamples:\r\n  nac start\r\n\r\nNonimplement\r\n"},
      {"nac ADD accept source 10.0.0.2", usage},
      {"nac ad accept source 10.0.0.2", usage},
      {"nac  add accept source 10.0.0.2", usage},
  };
  for (const Case& c : cases) {
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, 0) << c.line;
    EXPECT_EQ(run.reply, c.reply) << c.line;
  }
  EXPECT_EQ(Entries(), "1 10.0.0.1 ;");
}

}  // namespace
