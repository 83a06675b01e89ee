#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"
#include "tests/common/TempDir.h"

namespace {

const std::string kAddUsage =
    "pc: invalid option\r\n\r\nUsage: pc add [source-mac SRC_MAC [source SRC_IP]] [network NW [netmask NM]]\r\n\r\n"
    "Examples:\r\n  pc add source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc add network 192.168.0.0 netmask 255.255.255.0\r\n";
const std::string kAddMac = "pc add source-mac 00:11:22:33:44:55 source 192.168.0.1";
const std::string kAddNetwork = "pc add network 192.168.0.0";

// "mac source network netmask" per record in list order; a deleted one with a leading '-'.
std::string Records() {
  std::string text;
  CPcDataList& list = GetPcDataList();
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CPcData& pc = *node->RecordAs<CPcData>();
    text += (pc.IsLive() ? "" : "-") + pc.macText + " " + pc.sourceText + " " + pc.networkText + " " +
            pc.netmaskText + ";";
  }
  return text;
}

class PcCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }
};

// An empty expected record list means the add was refused with the add usage text.
TEST_F(PcCommandTest, AddStoresAllowedShapesWithDefaultNetmasks) {
  struct Case {
    std::string line;
    std::string records;
  } cases[] = {
      {kAddMac, "00:11:22:33:44:55 192.168.0.1  ;"},
      {"pc add source- aa-bb-cc-dd-ee-ff s 10.0.0.1", "AA:BB:CC:DD:EE:FF 10.0.0.1  ;"},
      {"pc add source-mac 00:11:22:33:44:55 network 10.1.0.0", "00:11:22:33:44:55  10.1.0.0 255.0.0.0;"},
      {"pc add n 10.0.0.0", "  10.0.0.0 255.0.0.0;"},
      {"pc add net 172.16.0.0  netm 255.255.255.128", "  172.16.0.0 255.255.255.128;"},
      {"pc add network 172.16.0.0", "  172.16.0.0 255.255.0.0;"},
      {"pc add network 192.168.1.0", "  192.168.1.0 255.255.255.0;"},
      {"pc add network 230.0.0.0", "  230.0.0.0 240.0.0.0;"},
      {"pc add network 245.0.0.0", "  245.0.0.0 248.0.0.0;"},
      {"pc add network 0.0.0.0", "  0.0.0.0 0.0.0.0;"},
      {"pc add network 250.0.0.0", ""},
      {"pc add network 192.168.0.0 netmask 255.0.255.0", ""},
      {"pc add source 192.168.0.1", ""},
      {"pc add source-mac 00:11:22:33:44:55 source 10.0.0.1 network 10.0.0.0", ""},
      {"pc add", ""},
      {"pc add source-mac", ""},
      {"pc add network 10.0.0.0 source-mac", ""},
      {"pc add network 10.0.0.0 mask 255.0.0.0", ""},
      {"pc add source-mac 00:11:22:33:44:5G", ""},
  };
  for (const Case& c : cases) {
    ResetRegistries();
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, c.records.empty() ? 0 : 1) << c.line;
    EXPECT_EQ(run.reply, c.records.empty() ? kAddUsage : "") << c.line;
    EXPECT_EQ(Records(), c.records) << c.line;
  }
}

TEST_F(PcCommandTest, DuplicatesDeletionAndClear) {
  ASSERT_EQ(RunCommandLine(kAddMac).result, 1);
  ASSERT_EQ(RunCommandLine(kAddNetwork).result, 1);
  const CommandRun again = RunCommandLine(kAddMac);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.reply, "duplication of data\r\n");

  const CommandRun refused = RunCommandLine("pc del source 192.168.0.1");
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.reply.rfind("pc: invalid option\r\n\r\nUsage: pc del [source-mac", 0), 0u) << refused.reply;
  EXPECT_EQ(RunCommandLine("pc del network 10.0.0.0").result, 2);  // no match, still 2
  const CommandRun clear = RunCommandLine("pc clear now");
  EXPECT_EQ(clear.reply, "pc: invalid option\r\n\r\nUsage: pc clear\r\n\r\nExamples:\r\n  pc clear\r\n");
  EXPECT_EQ(Records(), "00:11:22:33:44:55 192.168.0.1  ;  192.168.0.0 255.255.255.0;");

  const CommandRun del = RunCommandLine("pc del network 192.168.0.0");
  EXPECT_EQ(del.result, 2);
  EXPECT_EQ(del.reply, "");
  EXPECT_EQ(Records(), "00:11:22:33:44:55 192.168.0.1  ;-  192.168.0.0 255.255.255.0;");
  EXPECT_EQ(RunCommandLine("pc clear").result, 4);
  EXPECT_EQ(Records(), "-00:11:22:33:44:55 192.168.0.1  ;-  192.168.0.0 255.255.255.0;");
}

TEST_F(PcCommandTest, ShowListsLiveRecordsWithTabColumns) {
  RunCommandLine(kAddMac);
  RunCommandLine("pc add source-mac 00:11:22:33:44:66");
  RunCommandLine(kAddNetwork);
  RunCommandLine("pc add network 1.0.0.0");
  RunCommandLine("pc del network 1.0.0.0");
  const std::string listing =
      "ADDRESS\t\t\tDESTINATION\tNETWORK\t\tNETMASK\r\n"
      "00:11:22:33:44:55\t192.168.0.1\t\t\t\r\n"
      "00:11:22:33:44:66\t\t\t\t\t\r\n"
      "\t\t\t\t\t192.168.0.0\t255.255.255.0\r\n";
  for (const char* line : {"pc show", "pc", "pc show extra words"}) {
    const CommandRun run = RunCommandLine(line);
    EXPECT_EQ(run.result, 0) << line;
    EXPECT_EQ(run.reply, listing) << line;
  }
}

TEST_F(PcCommandTest, SaveAndLoadThroughPcCsv) {
  testing_support::TempDir dir;
  RunCommandLine(kAddMac);
  RunCommandLine(kAddNetwork);
  EXPECT_EQ(RunCommandLine("pc load").reply, "load error\r\n");
  EXPECT_EQ(RunCommandLine("pc save x").reply.rfind("pc: invalid option\r\n\r\nUsage: pc save\r\n", 0), 0u);
  const CommandRun save = RunCommandLine("pc save");
  EXPECT_EQ(save.result, 0);
  EXPECT_EQ(save.reply, "");
  EXPECT_EQ(dir.Read("pc.csv"),
            "\"00:11:22:33:44:55\",\"192.168.0.1\",\"\",\"\"\r\n\"\",,\"192.168.0.0\",\"255.255.255.0\"\r\n");

  ResetRegistries();
  const CommandRun load = RunCommandLine("pc load");
  EXPECT_EQ(load.result, 3);
  EXPECT_EQ(load.reply, "");
  EXPECT_EQ(Records(), "00:11:22:33:44:55 192.168.0.1  ;  192.168.0.0 255.255.255.0;");

  dir.Write("pc.csv", "\"\",\"10.0.0.1\",\"\",\"\"\r\n");
  const CommandRun bad = RunCommandLine("pc load");
  EXPECT_EQ(bad.result, 3);
  EXPECT_EQ(bad.reply, "load error\r\n");

  ::unlink("pc.csv");
  ::mkdir("pc.csv", 0700);  // a directory in the file's place cannot be written over
  const CommandRun failed = RunCommandLine("pc save");
  EXPECT_EQ(failed.result, 0);
  EXPECT_EQ(failed.reply, "save error\r\n");
}

}  // namespace
