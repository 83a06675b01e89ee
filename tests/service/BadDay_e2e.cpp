// The whole velnor on an administrator's bad day: damaged and strange files, leftovers of a
// crash, wrong settings. It says what went wrong, keeps what it could not read, and still
// answers operators and stops on request.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/ServiceFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18231;

class BadDayTest : public ServiceFixture {
 protected:
  void SetUp() override { ASSERT_EQ(Run({"-RegServer"}), 0); }
};

TEST_F(BadDayTest, DamagedFilesAreReportedKeptAndTheConsoleStillAnswers) {
  const std::string gw = "\xEF\xBB\xBF\"127.0.0.2\",880,\"admin\",\"tovin\"\r\n\"127.0.0.300\"\r\n";
  dir_.Write("gw.csv", gw);
  dir_.Write("gwroute.csv", "\"127.0.0.2\",\"eth0\",\"10.0.0.0\",\"255.0.0.0\"\r\n\r\n");
  ASSERT_EQ(::mkfifo("pc.csv", 0600), 0);
  fs::create_symlink("/dev/zero", "quarantine.csv");
  dir_.Write("pc.csv.Ab12Cd", "half a save");
  dir_.Write("gw.csv.000000", "half a save");
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n");

  VelnorProcess velnor({}, units_);
  const std::vector<std::string> start = LogTexts(collector_->Until("Start processing was finished.").value_or(
      std::vector<std::string>{}));
  ASSERT_GE(start.size(), 8u) << velnor.Err();
  const std::vector<std::string> wanted = {
      "I removed 2 temporary files that interrupted saves had left.",
      "I failed in reading of GW data: gw.csv line 2.",
      "I succeeded in reading of GWROUTE data.",
      "I failed in reading of PC data: pc.csv: not a regular file.",
      "I failed in reading of QUARANTINE data: quarantine.csv: not a regular file.",
      "I succeeded in reading of SERVICE data."};
  EXPECT_EQ(std::vector<std::string>(start.begin() + 2, start.begin() + 2 + wanted.size()), wanted);
  EXPECT_FALSE(fs::exists("pc.csv.Ab12Cd") || fs::exists("gw.csv.000000"));
  for (const std::string& line : {wanted[1], wanted[3], wanted[4]}) {
    EXPECT_NE(velnor.Err().find(line), std::string::npos) << velnor.Err();
  }

  ConsoleClient operatorSession(kPort);
  ASSERT_TRUE(operatorSession.ReadPrompt()) << velnor.Err();
  EXPECT_EQ(operatorSession.Command("gwroute"),
            "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n127.0.0.2\teth0\t\t10.0.0.0\t255.0.0.0\r\n");
  EXPECT_EQ(operatorSession.Command("gw save"), "");
  EXPECT_EQ(Slurp("gw.csv.bak"), gw);
  EXPECT_EQ(Slurp("gw.csv"), "\"127.0.0.2\",880,\"admin\",\"tovin\"\r\n");

  velnor.Signal(SIGTERM);
  EXPECT_EQ(velnor.Wait(2s), 0);
}

TEST_F(BadDayTest, WrongSettingsAreNamedAndAWrongPortFailsTheStart) {
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=abc\n");
  dir_.Write("syslog.ini", "[SYSLOG]\nDESTINATION=loghost.example\n");
  VelnorProcess velnor({}, units_);
  EXPECT_EQ(velnor.Wait(5s), 78);
  const std::string err = velnor.Err();
  for (const char* line : {"Velnor: Velnor.ini: PORT=abc in section SERVICE is not a port from 1 to 65535; the "
                           "service stops.\n",
                           "Velnor: syslog.ini: DESTINATION=loghost.example in section SYSLOG is not an IPv4 address; "
                           "no log line can be sent.\n"}) {
    const std::size_t at = err.find(line);
    EXPECT_NE(at, std::string::npos) << line << " not in\n" << err;
    EXPECT_EQ(err.find(line, at + 1), std::string::npos) << "said twice: " << line;
  }
}

TEST_F(BadDayTest, ASenderCountOutOfRangeFailsTheStartAndOneInRangeServes) {
  for (const char* count : {"0", "1025", "many"}) {
    dir_.Write("Velnor.ini", std::string("[HTTP]\nSENDERS=") + count + "\n");
    VelnorProcess velnor({}, units_);
    EXPECT_EQ(velnor.Wait(5s), 78) << count;
    EXPECT_NE(velnor.Err().find(std::string("Velnor: Velnor.ini: SENDERS=") + count +
                                " in section HTTP is not a number from 1 to 1024; the service stops.\n"),
              std::string::npos)
        << velnor.Err();
  }
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n[HTTP]\nSENDERS=1024\n");
  VelnorProcess velnor({}, units_);
  ConsoleClient operatorSession(kPort);
  ASSERT_TRUE(operatorSession.ReadPrompt()) << velnor.Err();
  velnor.Signal(SIGTERM);
  EXPECT_EQ(velnor.Wait(5s), 0);
}

}  // namespace
