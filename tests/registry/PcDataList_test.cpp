#include "registry/PcDataList.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>

#include "tests/common/TempDir.h"

namespace {

using namespace std::string_literals;

std::unique_ptr<CPcData> Pc(const char* mac, const char* source = "", const char* network = "",
                            const char* netmask = "") {
  auto pc = std::make_unique<CPcData>();
  EXPECT_TRUE(pc->SetMac(mac) && pc->SetSource(source) && pc->SetNetwork(network) && pc->SetNetmask(netmask));
  return pc;
}

int Add(CPcDataList& list, std::unique_ptr<CPcData> pc) {
  const int result = list.AddUnique(pc.get());
  if (result == 0) pc.release();
  return result;
}

// One letter per record in list order: upper case when live, lower case when deleted.
std::string Letters(CPcDataList& list) {
  std::string letters;
  char letter = 'A';
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false), ++letter) {
    letters += node->RecordAs<CPcData>()->IsLive() ? letter : static_cast<char>(letter + 32);
  }
  return letters;
}

constexpr const char* kM1 = "00:11:22:33:44:55";
constexpr const char* kM2 = "00:11:22:33:44:66";

TEST(PcIdentityTest, EachStoredShapeAgainstEachNewShape) {
  struct Case {
    std::unique_ptr<CPcData> stored;
    std::unique_ptr<CPcData> added;
    int result;
  } cases[] = {
      {Pc(kM1), Pc(kM1), -1},
      {Pc(kM1), Pc(kM1, "10.0.0.1"), 0},  // a source makes another PC even beside the bare MAC
      {Pc(kM1), Pc(kM2), 0},
      {Pc(kM1, "10.0.0.1"), Pc(kM1), -1},  // a bare MAC collides with every record of it
      {Pc(kM1, "10.0.0.1"), Pc(kM1, "10.0.0.1"), -1},
      {Pc(kM1, "10.0.0.1"), Pc(kM1, "10.0.0.2"), 0},
      {Pc(kM1), Pc(kM1, "", "10.0.0.0"), 0},  // zero masked networks, but the stored one has none
      {Pc(kM1, "", "192.168.0.0", "255.255.255.0"), Pc(kM1, "", "192.168.0.9", "255.255.255.0"), -1},
      {Pc(kM1, "", "192.168.0.0", "255.255.255.0"), Pc(kM1, "", "192.168.0.0", "255.255.0.0"), 0},
      {Pc(kM1, "", "192.168.0.0", "255.255.255.0"), Pc(kM2, "", "192.168.0.0", "255.255.255.0"), 0},
      {Pc(kM1, "", "192.168.0.0", "255.255.255.0"), Pc("", "", "192.168.0.0", "255.255.255.0"), -1},
      {Pc("", "", "192.168.0.0", "255.255.255.0"), Pc(kM1, "", "192.168.0.9", "255.255.255.0"), -1},
      {Pc("", "", "192.168.0.0", "255.255.255.0"), Pc(kM1), 0},
      {Pc("", "", "10.0.0.0"), Pc(kM1), 0},
      {Pc("", "", "192.168.0.0", "255.255.255.0"), Pc("", "", "192.168.1.0", "255.255.255.0"), 0},
      // Without netmasks both masked networks are zero, so any two networks collide.
      {Pc("", "", "10.0.0.0"), Pc("", "", "20.0.0.0"), -1},
      {Pc(kM1, "10.0.0.1"), Pc(kM2, "10.0.0.1", "192.168.0.0"), -1},  // source with network
      {Pc(kM1), Pc("", "10.0.0.1"), -1},                            // source without MAC
      {Pc(kM1), Pc("", "", "", "255.0.0.0"), -1},                   // neither MAC nor network
  };
  int row = 0;
  for (Case& c : cases) {
    CPcDataList list;
    ASSERT_EQ(Add(list, std::move(c.stored)), 0) << "row " << row;
    EXPECT_EQ(Add(list, std::move(c.added)), c.result) << "row " << row;
    EXPECT_EQ(list.GetCount(false), c.result == 0 ? 2 : 1) << "row " << row;
    ++row;
  }
}

TEST(PcMatchTest, MarkDeletedTakesExactlyTheMatchingRecords) {
  CPcDataList list;
  ASSERT_EQ(Add(list, Pc(kM1)), 0);                                    // A
  ASSERT_EQ(Add(list, Pc(kM1, "10.0.0.1")), 0);                        // B
  ASSERT_EQ(Add(list, Pc(kM1, "", "10.0.0.0", "255.0.0.0")), 0);       // C
  ASSERT_EQ(Add(list, Pc("", "", "192.168.0.0", "255.255.255.0")), 0);  // D
  ASSERT_EQ(Add(list, Pc("", "", "192.168.0.0", "255.255.0.0")), 0);    // E
  ASSERT_EQ(Add(list, Pc(kM2)), 0);                                    // F
  const struct {
    std::unique_ptr<CPcData> key;
    const char* marked;
  } cases[] = {
      {Pc(""), "ABCdeF"},
      {Pc("", "", "192.168.0.77", "255.255.255.0"), "ABCdEF"},
      {Pc("", "", "192.168.0.77", "255.255.0.0"), "ABCDeF"},
      {Pc("", "", "192.168.0.0"), "ABCdeF"},  // no netmask: the networks compared whole
      {Pc("", "", "192.168.0.77"), "ABCDEF"},
      {Pc(kM1), "abcDEF"},
      {Pc(kM1, "10.0.0.1"), "AbCDEF"},
      {Pc(kM1, "10.0.0.2"), "ABCDEF"},
      {Pc(kM1, "", "10.1.2.3", "255.0.0.0"), "ABcDEF"},
      {Pc(kM1, "", "10.1.2.3"), "ABCDEF"},
      {Pc(kM1, "", "0.0.0.0"), "ABCDEF"},  // a network of zeros is still a network
  };
  for (const auto& c : cases) {
    CPcDataList copy;
    list.CopyAll(&copy);
    copy.MarkDeleted(*c.key);
    EXPECT_EQ(Letters(copy), c.marked) << "key " << c.key->macText << "/" << c.key->networkText;
  }
}

TEST(PcFileTest, SaveWritesEachShapeAndLoadReadsItBack) {
  testing_support::TempDir dir;
  CPcDataList list;
  Add(list, Pc("00-1a-2b-3c-4d-5e", "192.168.0.1"));
  Add(list, Pc(kM1));
  Add(list, Pc("00:11:22:33:44:77", "", "10.0.0.0"));
  Add(list, Pc("", "", "192.168.0.0", "255.255.255.0"));
  Add(list, Pc("00:11:22:33:44:88"));
  list.MarkDeleted(*Pc("00:11:22:33:44:88"));
  ASSERT_EQ(list.Save("pc.csv"), 0);
  const std::string expected =
      "\"00:1A:2B:3C:4D:5E\",\"192.168.0.1\",\"\",\"\"\r\n"
      "\"00:11:22:33:44:55\",,\"\",\"\"\r\n"
      "\"00:11:22:33:44:77\",,\"10.0.0.0\",\"\"\r\n"
      "\"\",,\"192.168.0.0\",\"255.255.255.0\"\r\n";
  EXPECT_EQ(dir.Read("pc.csv"), expected);
  struct stat info {};
  ASSERT_EQ(stat("pc.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  CPcDataList loaded;
  ASSERT_EQ(loaded.Load("pc.csv"), 0);
  EXPECT_EQ(loaded.GetHead(false)->RecordAs<CPcData>()->added, 1);
  ASSERT_EQ(loaded.Save("again.csv"), 0);
  EXPECT_EQ(dir.Read("again.csv"), expected);

  list.MarkAllDeleted(1);
  EXPECT_EQ(list.Save("pc.csv"), 0);
  EXPECT_EQ(dir.Read("pc.csv"), "");
}

TEST(PcFileTest, LoadLineByLine) {
  const std::string longLine = "\"00:11:22:33:44:55\"" + std::string(4095 - 19, ' ') + "\"\",,\"10.0.0.0\",\"255.0.0.0\"\r\n";
  const struct {
    std::string file;
    int result;
    const char* letters;  // the earlier record first, then the file's
  } cases[] = {
      {" 00-11-22-33-44-55 ,\t192.168.0.1\r\n\"\",,\"10.0.0.0\",\"255.0.0.0\",extra\r\n", 0, "aBC"},
      {"\"00:11:22:33:44:55\",\"192.168.0.1\",\"192.168.0.0\",\"\"\r\n", -1, "a"},
      {"\"\",\"192.168.0.1\",\"\",\"\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\r\nxyz\r\n\"00:11:22:33:44:66\"\r\n", -1, "aB"},
      {"\"00:11:22:33:44:55\"\r\n\r\n", -1, "aB"},  // a blank line is a record of nothing
      {"\"00:11:22:33:44:55\",,\"\",\"255.0.255.0\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\",,\"1.2.3\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\0,\"1.1.1.1\"\r\n\"\x01\xfe\",\r\n"s, -1, "aB"},  // a NUL ends the line
      {"\"00:11:22:33:44:55\",\"\"\r\n\"00:11:22:33:44:66\",,\"\",\"\"", 0, "aBC"},
      {longLine, 0, "aBC"},  // more than 4095 characters come in two pieces
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    CPcDataList list;
    Add(list, Pc("00:11:22:33:44:99"));
    dir.Write("pc.csv", c.file);
    EXPECT_EQ(list.Load("pc.csv"), c.result) << c.file;
    EXPECT_EQ(Letters(list), c.letters) << c.file;
  }
  CPcDataList list;
  Add(list, Pc(kM1));
  EXPECT_EQ(list.Load("missing.csv"), -1);
  EXPECT_EQ(Letters(list), "A");
}

TEST(PcFileTest, FailedSaveKeepsThePreviousFile) {
  testing_support::TempDir dir;
  CPcDataList list;
  Add(list, Pc(kM1, "192.168.0.1"));
  EXPECT_EQ(list.Save("missing/pc.csv"), -1);

  dir.Write("pc.csv", "old\r\n");
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  rlimit tiny = previous;
  tiny.rlim_cur = 8;
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const int result = list.Save("pc.csv");
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(dir.Read("pc.csv"), "old\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
