// What an operator is told was stored is what a restart gives back: every registry that has
// a file, filled from console lines, saved, emptied and loaded again holds the same values,
// and a value that its file could not give back is refused where it is typed. The save,
// clear and load of every registry with a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/command/CommandHarness.h"

namespace {

using testing_support::Dump;
using testing_support::Flags;

// Every stored value of every registry with a file, and the service port.
std::string Everything() {
  std::string out = Dump<CPcData>(GetPcDataList(), [](const CPcData& p) {
    return p.macText + "|" + p.sourceText + "|" + p.networkText + "|" + p.netmaskText;
  });
  out += "\n" + Dump<CQuarantineData>(GetQuarantineDataList(), [](const CQuarantineData& q) {
    return q.sourceText + "|" + q.protocol + "|" + q.portText;
  });
  out += "\n" + Dump<CGwData>(GetGwDataList(), [](const CGwData& g) {
    std::string text = g.addressText + "|" + g.portText + "|" + g.user + "|" + g.password + "|routes:";
    text += Dump<CGwrouteData>(const_cast<CGwData&>(g).Routes(), [](const CGwrouteData& r) {
      return r.device + "|" + r.networkText + "|" + r.netmaskText;
    });
    return text;
  });
  return out + "\n" + GetServiceData().portText;
}

void RunAll(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) ASSERT_GT(RunCommandLine(line).result, 0) << line;
}

using RegistryRoundTripTest = CommandTest;

TEST_F(RegistryRoundTripTest, ConsoleValuesComeBackFromTheFiles) {
  RunAll({"pc add source-mac 00-1a-2b-3c-4d-5e source 192.168.0.1", "pc add source-mac 00:11:22:33:44:55",
       "pc add source-mac 00:11:22:33:44:66 network 10.1.0.0", "pc add network 172.16.0.0 netmask 255.255.255.0",
       "quarantine add source 172.17.254.254 protocol tcp sport 4208",
       "quarantine add sport 0053 protocol udp source 10.0.0.53",
       "gw add 127.0.0.2 pass p;s$s'w\\o{r}d= user op\xc3\xa9rateur", "gw add 127.0.0.3 sport 08080",
       "gw add 127.0.0.4 user u pass *",
       "gwroute add 127.0.0.2 network 192.168.0.0 dev eth0.100:1", "gwroute add 127.0.0.2 network 10.0.0.0",
       "gwroute add 127.0.0.3 network 172.16.5.0 netmask 255.255.255.128 dev wan-\xe2\x82\xac",
       "service set sport 08123"});
  const std::string stored = Everything();

  for (const char* save : {"pc save", "quarantine save", "gw save", "gwroute save", "service save"}) {
    ASSERT_EQ(RunCommandLine(save), (CommandRun{0, ""})) << save;
  }
  ResetRegistries();
  RunAll({"pc load", "quarantine load", "gw load", "gwroute load", "service load"});
  EXPECT_EQ(Everything(), stored);
}

TEST_F(RegistryRoundTripTest, ValuesThatAFileCannotKeepAreRefused) {
  ASSERT_EQ(RunCommandLine("gw add 127.0.0.2").result, 1);
  const std::string before = Everything();
  const struct {
    const char* line;
    const char* usage;  // the start of the sub-command's usage text
  } cases[] = {
      {"gw add 127.0.0.5 pass p,ss", "Usage: gw add TARGET"},
      {"gw add 127.0.0.5 user \"admin\"", "Usage: gw add TARGET"},
      {"gw add 127.0.0.5 pass a\x01z", "Usage: gw add TARGET"},
      {"gw add 127.0.0.5 pass a\x7fz", "Usage: gw add TARGET"},
      {"gw del 127.0.0.2 pass p,ss", "Usage: gw del TARGET"},
      {"gwroute add 127.0.0.2 network 10.0.0.0 dev e,th0", "Usage: gwroute add TARGET"},
      {"gwroute add 127.0.0.2 network 10.0.0.0 dev \"eth0\"", "Usage: gwroute add TARGET"},
      {"quarantine add source 10.0.0.1 protocol tcp,udp sport 1", "Usage: quarantine add source"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const CommandRun run = RunCommandLine(c.line);
    EXPECT_EQ(run.result, 0);
    EXPECT_NE(run.reply.find(c.usage), std::string::npos) << run.reply;
    EXPECT_EQ(Everything(), before);
  }
}

// The frame the four registry families share: each word takes no other; save writes the
// file, clear withdraws every record, load withdraws them and reads the file again; a load
// of a bad file or of none, and a save over a directory, say so.
TEST_F(RegistryRoundTripTest, SaveClearAndLoadOfEachRegistry) {
  const struct {
    std::string family;
    std::vector<std::string> lines;  // the one record
    std::string (*records)();
    CommandRun bad, unread;  // a load of a bad file, and of none
  } families[] = {
      {"pc", {"pc add source-mac 00:11:22:33:44:55"}, [] { return Flags<CPcData>(GetPcDataList()); },
       {3, "load error\r\n"}, {3, "load error\r\n"}},
      {"quarantine", {"quarantine add source 10.0.0.1 protocol tcp sport 80"},
       [] { return Flags<CQuarantineData>(GetQuarantineDataList()); }, {3, "load error\r\n"}, {3, "load error\r\n"}},
      {"gw", {"gw add 127.0.0.2"}, [] { return Flags<CGwData>(GetGwDataList()); }, {3, "load error\r\n"},
       {3, "load error\r\n"}},
      {"gwroute", {"gw add 127.0.0.2", "gwroute add 127.0.0.2 network 10.0.0.0"},
       [] { return Flags<CGwrouteData>(GetGwDataList().GetHead(false)->RecordAs<CGwData>()->Routes()); },
       {0, "memory throw\r\n"}, {0, "load error\r\n"}},
  };
  for (const auto& f : families) {
    SCOPED_TRACE(f.family);
    ResetRegistries();
    RunAll(f.lines);
    std::vector<Step> steps;
    for (const std::string word : {"save", "load", "clear"}) {
      steps.push_back({f.family + " " + word + " now", 0,
                       f.family + ": invalid option\r\n\r\nUsage: " + f.family + " " + word + "\r\n...", "+;"});
    }
    steps.insert(steps.end(), {{f.family + " save", 0, "", "+;"},
                               {f.family + " clear", 4, "", "-+;"},
                               {f.family + " load", 3, "", "-+;+;"}});
    RunSteps(steps, f.records);
    dir_.Write(f.family + ".csv", "\"300.1.1.1\",\"x\"\r\n");
    EXPECT_EQ(RunCommandLine(f.family + " load"), f.bad);
    std::filesystem::remove(f.family + ".csv");
    EXPECT_EQ(RunCommandLine(f.family + " load"), f.unread);
    std::filesystem::create_directory(f.family + ".csv");
    EXPECT_EQ(RunCommandLine(f.family + " save"), (CommandRun{0, "save error\r\n"}));
  }
}

}  // namespace
