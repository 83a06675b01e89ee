// What an operator is told was stored is what a restart gives back: every registry that has
// a file, filled from console lines, saved, emptied and loaded again holds the same values,
// and a value that its file could not give back is refused where it is typed.
#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"

namespace {

using testing_support::Dump;

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

}  // namespace
