#include "registry/PcDataList.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

using namespace std::string_literals;

// "mac,source,network,netmask"; a MAC of "M" or "N" stands for one of two fixed ones.
std::unique_ptr<CPcData> Pc(const std::string& text) {
  std::string f[4];
  std::istringstream in(text);
  for (std::string& field : f) std::getline(in, field, ',');
  if (f[0] == "M" || f[0] == "N") f[0] = f[0] == "M" ? "00:11:22:33:44:55" : "00:11:22:33:44:66";
  auto pc = std::make_unique<CPcData>();
  EXPECT_TRUE(pc->SetMac(f[0].c_str()) && pc->SetSource(f[1].c_str()) && pc->SetNetwork(f[2].c_str()) &&
              pc->SetNetmask(f[3].c_str()))
      << text;
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

// Whether other may join stored (a shape that is neither PC nor network never may), and
// whether other as a key finds stored.
TEST(PcDataListTest, IdentityAndMatch) {
  const struct {
    const char *stored, *other;
    int add;
    bool match;
  } cases[] = {
      {"M", "M", -1, true},
      {"M", "M,10.0.0.1", 0, false},
      {"M", "N", 0, false},
      {"M,10.0.0.1", "M", -1, true},
      {"M,,10.0.0.0,255.0.0.0", "M", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.0,255.255.0.0", 0, false},
      {"M,,192.168.0.0,255.255.255.0", ",,192.168.0.0,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.1.0,255.255.255.0", 0, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77,255.255.255.0", -1, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.0", 0, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77", 0, false},
      {",,10.0.0.0", ",,20.0.0.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "", -1, true},
      {"M,10.0.0.1", "N,10.0.0.1,192.168.0.0", -1, false},
      {"M", ",10.0.0.1", -1, false},
      {"M", ",,,255.0.0.0", -1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CPcDataList>(Pc(c.stored), Pc(c.other)), std::make_pair(c.add, c.match))
        << c.stored << " / " << c.other;
  }
}

// That a saved file loads back the same is checked by the PcLoad fuzz target.
TEST(PcDataListTest, FileHoldsEachShape) {
  testing_support::TempDir dir;
  CPcDataList list;
  for (const char* pc : {"00-1a-2b-3c-4d-5e,192.168.0.1", "M", "N,,10.0.0.0", ",,192.168.0.0,255.255.255.0", "001122334477"}) {
    ASSERT_EQ(Add(list, Pc(pc)), 0) << pc;
  }
  list.MarkDeleted(*Pc("001122334477"));
  ASSERT_EQ(list.Save("pc.csv"), 0);
  const std::string expected =
      "\"00:1A:2B:3C:4D:5E\",\"192.168.0.1\",\"\",\"\"\r\n"
      "\"00:11:22:33:44:55\",,\"\",\"\"\r\n"
      "\"00:11:22:33:44:66\",,\"10.0.0.0\",\"\"\r\n"
      "\"\",,\"192.168.0.0\",\"255.255.255.0\"\r\n";
  EXPECT_EQ(dir.Read("pc.csv"), expected);
  EXPECT_EQ(list.Save("missing/pc.csv"), -1);
}

// Each file is loaded over one older record: "a" when withdrawn, "A" when the file is missing.
TEST(PcDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const struct {
    std::string file;
    int result;
    const char* letters;
  } cases[] = {
      {"-", -1, "A"},
      {" 00-11-22-33-44-55 ,\t192.168.0.1\r\n\"\",,\"10.0.0.0\",\"255.0.0.0\",extra\r\n", 0, "aBC"},
      {"\"00:11:22:33:44:55\",\"192.168.0.1\",\"192.168.0.0\",\"\"\r\n", -1, "a"},
      {"\"\",\"192.168.0.1\",\"\",\"\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\r\nxyz\r\n\"00:11:22:33:44:66\"\r\n", -1, "aB"},
      {"\"00:11:22:33:44:55\",,\"\",\"255.0.255.0\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\",,\"1.2.3\"\r\n", -1, "a"},
      {"\"00:11:22:33:44:55\"\0,\"1.1.1.1\"\r\n\"\x01\xfe\",\r\n"s, -1, "aB"},
      {"\"00:11:22:33:44:55\",\"\"\r\n\"00:11:22:33:44:66\",,\"\",\"\"", 0, "aBC"},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    CPcDataList list;
    Add(list, Pc("001122334499"));
    if (c.file != "-") dir.Write("pc.csv", c.file);
    EXPECT_EQ(list.Load(c.file != "-" ? "pc.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Letters(list), c.letters);
  }
}

}  // namespace
