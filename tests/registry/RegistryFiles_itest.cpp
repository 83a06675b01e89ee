// The registry files: the load they share and what each takes from its lines, and an
// administrator's bad day with them: a spreadsheet's byte-order mark, an editor's blank
// lines, a bad line, a FIFO or a device where a file should be, saves that were killed
// half-way. Nothing the administrator wrote is lost without a word.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "registry/CsvFile.h"
#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "registry/SaveLeftovers.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/registry/RegistryModel.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// One registry file: how to load and save it, and three good lines as a save writes them.
struct RegistryFile {
  const char* name;
  const char* dataName;
  std::string goodLine;
  std::string otherGoodLine;
  std::string oldLine;
  std::function<int()> load;
  std::function<int()> save;
};

class RegistryFilesTest : public ::testing::Test {
 protected:
  RegistryFilesTest() : collector_(testing_support::UdpCollector::OnFreeAddress()) {
    collector_->TakeTheLog();
    // One gateway for routes, another whose route stays saved once it is withdrawn.
    EXPECT_EQ(gateways_.AddUnique(registry_model::NewGw("172.16.0.1")), 0);
    CGwData* withdrawn = registry_model::NewGw("172.16.0.3");
    EXPECT_EQ(gateways_.AddUnique(withdrawn), 0);
    EXPECT_EQ(withdrawn->Routes().AddUnique(registry_model::NewRoute("10.3.0.0", "255.255.0.0")), 0);
    gateways_.MarkDeleted(*withdrawn);
  }
  ~RegistryFilesTest() override { CloseSyslog(); }

  std::vector<RegistryFile> Files() {
    return {
        {"pc.csv", "PC", "\"00:11:22:33:44:55\",,\"\",\"\"", "\"\",,\"10.0.0.0\",\"255.0.0.0\"",
         "\"00:11:22:33:44:99\",,\"\",\"\"", [this] { return pcs_.Load("pc.csv"); },
         [this] { return pcs_.Save("pc.csv"); }},
        {"quarantine.csv", "QUARANTINE", "\"172.17.254.254\",\"tcp\",\"4208\"", "\"10.0.0.53\",\"udp\",\"53\"",
         "\"192.0.2.1\",\"tcp\",\"1\"", [this] { return servers_.Load("quarantine.csv"); },
         [this] { return servers_.Save("quarantine.csv"); }},
        // The routes first: a failed gw.csv load withdraws the gateway that they need.
        {"gwroute.csv", "GWROUTE", "\"172.16.0.1\",\"eth0\",\"10.0.0.0\",\"255.0.0.0\"",
         "\"172.16.0.1\",,\"192.168.0.0\",\"255.255.255.0\"", "\"172.16.0.1\",,\"10.9.0.0\",\"255.255.0.0\"",
         [this] { return LoadGwroutes(gateways_, "gwroute.csv") == GwrouteLoadResult::kLoaded ? 0 : -1; },
         [this] { return SaveGwroutes(gateways_, "gwroute.csv"); }},
        {"gw.csv", "GW", "\"172.16.0.1\",880,\"admin\",\"tovin\"", "\"172.16.0.2\",8080,\"u\",\"p\"",
         "\"10.0.0.9\",880,\"admin\",\"tovin\"", [this] { return gateways_.Load("gw.csv"); },
         [this] { return gateways_.Save("gw.csv"); }},
    };
  }

  std::vector<std::string> Logged() { return testing_support::LogTexts(collector_->Drain(100ms), ""); }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_;
  CPcDataList pcs_;
  CQuarantineDataList servers_;
  CGwDataList gateways_;
};

// The load every registry file shares, over an older record: the lines before the first
// bad one are kept and the older records withdrawn; a byte-order mark, blank lines and a
// last line without its end are no bad lines. A save writes the live records.
TEST_F(RegistryFilesTest, ALoadKeepsTheLinesBeforeTheFirstBadOne) {
  for (const RegistryFile& file : Files()) {
    SCOPED_TRACE(file.name);
    // A route file withdraws every route even when it is missing, and takes a route twice.
    const bool routes = std::string(file.name) == "gwroute.csv";
    const std::string g1 = file.goodLine + "\r\n", g2 = file.otherGoodLine + "\r\n", bad = "\"300.1.1.1\",\"x\"\r\n";
    // The longest line that is read whole: the good line with one more column.
    const std::string longest = file.goodLine + "," + std::string(4095 - file.goodLine.size() - 1, 'x') + "\r\n";
    const struct {
      std::optional<std::string> content;  // none: no file
      int result;
      std::string saved;
    } cases[] = {
        {std::nullopt, -1, routes ? "" : file.oldLine + "\r\n"},
        {"", 0, ""},
        {g1 + g2, 0, g1 + g2},
        {g1 + bad + g2, -1, g1},
        {g1 + g1, routes ? 0 : -1, routes ? g1 + g1 : g1},
        {longest + g2, 0, g1 + g2},
        {"\xEF\xBB\xBF" + g1 + "\r\n \t \r\n\n" + file.otherGoodLine, 0, g1 + g2},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.content.value_or("no file").substr(0, 80));
      dir_.Write(file.name, file.oldLine + "\r\n");
      ASSERT_EQ(file.load(), 0);
      if (c.content) {
        dir_.Write(file.name, *c.content);
      } else {
        fs::remove(file.name);
      }
      testing::internal::CaptureStderr();
      EXPECT_EQ(file.load(), c.result);
      testing::internal::GetCapturedStderr();
      const std::vector<std::string> logged = Logged();
      EXPECT_TRUE(c.result != 0 || logged.empty()) << logged.front();
      ASSERT_EQ(file.save(), 0);
      EXPECT_EQ(dir_.Read(file.name), c.saved);
    }
    Logged();
  }
}

// What each file takes from its lines, as the next save writes it: blanks around a column
// and columns beyond the last go; a refused line stores nothing. Saves quote every text.
TEST_F(RegistryFilesTest, EachFileReadsItsOwnLines) {
  ASSERT_EQ(SaveGwroutes(gateways_, "gwroute.csv"), 0);
  EXPECT_EQ(dir_.Read("gwroute.csv"), "\"172.16.0.3\",,\"10.3.0.0\",\"255.255.0.0\"\r\n")
      << "the routes of a withdrawn gateway are saved until it is erased";
  ASSERT_EQ(gateways_.AddUnique(registry_model::NewGw("172.16.0.2")), 0);
  const struct {
    const char* file;
    std::string lines;
    int result;
    std::string saved;
  } cases[] = {
      {"pc.csv", " 00-1a-2b-3c-4d-5e ,\t192.168.0.1", 0, "\"00:1A:2B:3C:4D:5E\",\"192.168.0.1\",\"\",\"\""},
      {"pc.csv", "\"\",,\"10.0.0.0\",\"255.0.0.0\",extra", 0, "\"\",,\"10.0.0.0\",\"255.0.0.0\""},
      {"pc.csv", "001122334466,,10.0.0.0", 0, "\"00:11:22:33:44:66\",,\"10.0.0.0\",\"\""},
      {"pc.csv", "\"00:11:22:33:44:55\",\"\"", 0, "\"00:11:22:33:44:55\",,\"\",\"\""},
      {"pc.csv", std::string("\"00:11:22:33:44:55\"\0,\"1.1.1.1\"", 28), 0, "\"00:11:22:33:44:55\",,\"\",\"\""},
      {"pc.csv", "\"00:11:22:33:44:55\",\"192.168.0.1\",\"192.168.0.0\",\"\"", -1, ""},
      {"pc.csv", "\"\",\"192.168.0.1\",\"\",\"\"", -1, ""},
      {"pc.csv", "\"00:11:22:33:44:55\",,\"\",\"255.0.255.0\"", -1, ""},
      {"pc.csv", "\"00:11:22:33:44:55\",,\"1.2.3\"", -1, ""},
      {"pc.csv", "\"\x01\xfe\",", -1, ""},
      {"quarantine.csv", " 10.0.0.1 ,\tudp , 080 \t", 0, "\"10.0.0.1\",\"udp\",\"080\""},
      {"quarantine.csv", "\"10.0.0.2\",\"tcp\",\"80\",junk", 0, "\"10.0.0.2\",\"tcp\",\"80\""},
      {"quarantine.csv", "\"10.0.0.2\",\"TCP\",\"80\"", -1, ""},
      {"quarantine.csv", "\"10.0.0.1\",\"tcp\"", -1, ""},
      {"quarantine.csv", "\"10.0.0.1\",\"tcp\",\"\"", -1, ""},
      {"quarantine.csv", "\"10.0.0.1\",,\"80\"", -1, ""},
      {"quarantine.csv", "\"10.0.0.1\",\"tcp\",\"65536\"", -1, ""},
      {"quarantine.csv", "\"10.0.0.256\",\"tcp\",\"80\"", -1, ""},
      // No gateway yet, an unknown one and a withdrawn one are passed over; an empty
      // address is the line before's.
      {"gwroute.csv", ",,\"10.0.0.0\",\"255.0.0.0\"\r\n\"10.9.9.9\",,\"10.0.0.0\"\r\n\"172.16.0.3\",,\"10.0.0.0\"",
       0, ""},
      {"gwroute.csv", "\"172.16.0.2\",,\"10.5.0.0\",\"255.255.0.0\"\r\n  ,\"eth1\",\"10.1.0.0\"", 0,
       "\"172.16.0.2\",,\"10.5.0.0\",\"255.255.0.0\"\r\n\"172.16.0.2\",\"eth1\",\"10.1.0.0\","},
      {"gwroute.csv", "\"172.16.0.2\",\"wan-\xe2\x82\xac.100:1\",\"10.6.0.0\",\"255.255.255.128\"", 0,
       "\"172.16.0.2\",\"wan-\xe2\x82\xac.100:1\",\"10.6.0.0\",\"255.255.255.128\""},
      {"gwroute.csv", "\"172.16.0.1\",,\"10.2.0.0\",\"255.0.255.0\"", -1, ""},
      {"gwroute.csv", "\"172.16.0.256\",,\"10.1.0.0\"", -1, ""},
      {"gwroute.csv", "\"172.16.0.1\",,\"10.1.0\"", -1, ""},
      {"gw.csv", " 10.0.0.2 , 8080 ", 0, "\"10.0.0.2\",8080,\"admin\",\"tovin\""},
      {"gw.csv", "\"10.0.0.2\",08080,\"op\xc3\xa9rateur\",\"p;s$s'w\\o{r}d=\"", 0,
       "\"10.0.0.2\",08080,\"op\xc3\xa9rateur\",\"p;s$s'w\\o{r}d=\""},
      {"gw.csv", "\"10.0.0.2\",0", -1, ""},
      {"gw.csv", "\"10.0.0.2\",65536", -1, ""},
      {"gw.csv", "\"10.0.0.256\"", -1, ""},
  };
  for (const RegistryFile& file : Files()) {
    for (const auto& c : cases) {
      if (c.file != std::string(file.name)) continue;
      SCOPED_TRACE(c.lines);
      dir_.Write(file.name, c.lines);
      testing::internal::CaptureStderr();
      EXPECT_EQ(file.load(), c.result);
      testing::internal::GetCapturedStderr();
      ASSERT_EQ(file.save(), 0);
      EXPECT_EQ(dir_.Read(file.name), c.saved + (c.saved.empty() ? "" : "\r\n"));
    }
  }
  struct stat info {};
  ASSERT_EQ(stat("gw.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "gw.csv holds passwords";
  Logged();
}

// A bad line is logged, and the file is kept before the next save.
TEST_F(RegistryFilesTest, AFailedLoadIsLoggedAndItsFileKept) {
  for (const RegistryFile& file : Files()) {
    SCOPED_TRACE(file.name);
    const std::string bad = file.goodLine + "\r\n\"300.1.1.1\",\"x\"\r\n" + file.otherGoodLine + "\r\n";
    dir_.Write(file.name, bad);
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.load(), -1);
    const std::string line =
        std::string("I failed in reading of ") + file.dataName + " data: " + file.name + " line 2.";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Velnor: " + line + "\n");
    const std::vector<std::string> logged = collector_->Drain(100ms);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(testing_support::LogText(logged[0], ""), line);
    EXPECT_TRUE(logged[0].starts_with("<11>")) << logged[0];  // user facility, priority 3

    ASSERT_EQ(file.save(), 0);
    EXPECT_EQ(dir_.Read(std::string(file.name) + ".bak"), bad);
    EXPECT_EQ(dir_.Read(file.name), file.goodLine + "\r\n");
    // Only the first save after the failure keeps a copy; a later failure keeps another.
    ASSERT_EQ(file.save(), 0);
    EXPECT_FALSE(fs::exists(std::string(file.name) + ".bak.1"));
    dir_.Write(file.name, "\"-\"\r\n");
    EXPECT_EQ(file.load(), -1);
    ASSERT_EQ(file.save(), 0);
    EXPECT_EQ(dir_.Read(std::string(file.name) + ".bak"), "\"-\"\r\n");
    EXPECT_EQ(dir_.Read(std::string(file.name) + ".bak.1"), bad);
    Logged();
  }
}

// Lines are parsed ahead of storing them: a line refused when stored still ends the load
// before a later line that does not parse, and far into the file as well as at its start.
TEST_F(RegistryFilesTest, TheFirstBadLineIsTheOneLoggedHoweverFarIn) {
  for (int good : {2, 63, 64, 65, 200}) {
    SCOPED_TRACE(good);
    std::string kept;
    for (int i = 0; i < good; ++i) {
      char line[48];
      std::snprintf(line, sizeof line, "\"02:00:00:00:%02X:%02X\",,\"\",\"\"\r\n", i >> 8, i & 0xff);
      kept += line;
    }
    // A repeat of the first line, then a line that does not parse.
    dir_.Write("pc.csv", kept + kept.substr(0, kept.find('\n') + 1) + "\"-\"\r\n" + kept);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pcs_.Load("pc.csv"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Velnor: I failed in reading of PC data: pc.csv line " + std::to_string(good + 1) + ".\n");
    ASSERT_EQ(pcs_.Save("pc.csv"), 0);
    EXPECT_EQ(dir_.Read("pc.csv"), kept);
    Logged();
  }
}

TEST_F(RegistryFilesTest, AFailedSaveKeepsThePreviousFileAndLeavesNoTemporary) {
  dir_.Write("pc.csv", "previous\r\n");
  // A file-size limit stands in for a full disk; root passes every permission check.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small{16, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool committed = true;
  {
    CsvFileWriter writer("pc.csv", 0644);
    committed = writer.Write(std::string(100000, 'y')) && writer.Commit();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(committed);
  EXPECT_EQ(dir_.Read("pc.csv"), "previous\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2) << "syslog.ini and pc.csv";
  EXPECT_FALSE(CsvFileWriter("no-such-dir/pc.csv", 0644).IsOpen());
  EXPECT_EQ(Logged(), std::vector<std::string>{});
}

TEST_F(RegistryFilesTest, OnlyRegularFilesAreRead) {
  ASSERT_EQ(mkfifo("pc.csv", 0600), 0);
  fs::create_symlink("/dev/zero", "gw.csv");
  fs::create_directory("quarantine.csv");
  fs::create_directory("gwroute.csv");
  // A FIFO without a writer, and an endless device, must not hold the reader.
  auto loads = std::async(std::launch::async, [this] {
    return std::vector<int>{pcs_.Load("pc.csv"), gateways_.Load("gw.csv"), servers_.Load("quarantine.csv"),
                            LoadGwroutes(gateways_, "gwroute.csv") == GwrouteLoadResult::kNotOpened ? -1 : 0};
  });
  ASSERT_EQ(loads.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(loads.get(), (std::vector<int>{-1, -1, -1, -1}));
  EXPECT_EQ(Logged(), (std::vector<std::string>{"I failed in reading of PC data: pc.csv: not a regular file.",
                                                "I failed in reading of GW data: gw.csv: not a regular file.",
                                                "I failed in reading of QUARANTINE data: quarantine.csv: "
                                                "not a regular file.",
                                                "I failed in reading of GWROUTE data: gwroute.csv: "
                                                "not a regular file."}));
  // Saving replaces the FIFO with a file; what could be kept of it is nothing.
  EXPECT_EQ(pcs_.Save("pc.csv"), 0);
  EXPECT_TRUE(fs::is_regular_file("pc.csv"));
  // A missing file is no failure: a new instance has none.
  EXPECT_EQ(pcs_.Load("none.csv"), -1);
  EXPECT_EQ(Logged(), std::vector<std::string>{});
}

TEST_F(RegistryFilesTest, LeftoversOfKilledSavesAreRemoved) {
  for (const char* name : {"pc.csv.a1B2c3", "gw.csv.XXXXXX", "gwroute.csv.bak.Qw3rty", "Velnor.ini.000000"}) {
    dir_.Write(name, "half");
  }
  for (const char* name : {"pc.csv.1", "pc.csv.a1B2c34", "pc.csv.a1-2c3", "other.csv.a1B2c3", "pc.csv.bak"}) {
    dir_.Write(name, "kept");
  }
  fs::create_directory("quarantine.csv.dirAbc");
  const char* const saved[] = {"pc.csv", "gw.csv", "gwroute.csv", "quarantine.csv", "Velnor.ini"};
  EXPECT_EQ(RemoveSaveLeftovers(".", saved), 4);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(".")) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"other.csv.a1B2c3", "pc.csv.1", "pc.csv.a1-2c3", "pc.csv.a1B2c34",
                                            "pc.csv.bak", "quarantine.csv.dirAbc", "syslog.ini"}));
}

}  // namespace
