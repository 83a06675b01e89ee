// The save, clear and load that the four registry families with a file share, as the console
// answers them. What the files hold is the registry files' test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/command/CommandHarness.h"

namespace {

using testing_support::Flags;

void RunAll(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) ASSERT_GT(RunCommandLine(line).result, 0) << line;
}

using RegistryRoundTripTest = CommandTest;

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
