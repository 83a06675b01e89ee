#include "registry/QuarantineDataList.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/TempDir.h"

namespace {

std::unique_ptr<CQuarantineData> Server(const char* source, const char* protocol, const char* port) {
  auto server = std::make_unique<CQuarantineData>();
  EXPECT_TRUE(server->SetSource(source));
  server->protocol = protocol;
  EXPECT_TRUE(server->SetPort(port));
  return server;
}

int Add(CQuarantineDataList& list, const char* source, const char* protocol, const char* port) {
  auto server = Server(source, protocol, port);
  const int result = list.AddUnique(server.get());
  if (result == 0) server.release();
  return result;
}

// "source protocol port" of each live record, with "+" when its added flag is set.
std::vector<std::string> Live(CQuarantineDataList& list) {
  std::vector<std::string> texts;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const auto& server = *node->RecordAs<CQuarantineData>();
    if (!server.IsLive()) continue;
    texts.push_back(server.sourceText + " " + server.protocol + " " + server.portText + (server.added ? "+" : ""));
  }
  return texts;
}

using Texts = std::vector<std::string>;

TEST(QuarantineDataListTest, IdentityIsAddressProtocolAndPortText) {
  CQuarantineDataList list;
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.254", "udp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "4208"), -1);
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "04208"), 0);
  EXPECT_EQ(Add(list, "172.017.254.254", "tcp", "4208"), -1);  // the same address bytes
  EXPECT_EQ(list.GetCount(false), 3);
}

TEST(QuarantineDataListTest, SaveWritesLiveRecordsQuotedWithCrLf) {
  testing_support::TempDir dir;
  CQuarantineDataList list;
  Add(list, "172.17.254.254", "tcp", "4208");
  Add(list, "10.0.0.1", "udp", "53");
  Add(list, "10.0.0.2", "udp", "080");
  list.MarkDeleted(*Server("10.0.0.1", "udp", "53"));
  ASSERT_EQ(list.Save("quarantine.csv"), 0);
  EXPECT_EQ(dir.Read("quarantine.csv"), "\"172.17.254.254\",\"tcp\",\"4208\"\r\n\"10.0.0.2\",\"udp\",\"080\"\r\n");
  struct stat info {};
  ASSERT_EQ(stat("quarantine.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  CQuarantineDataList loaded;
  EXPECT_EQ(loaded.Load("quarantine.csv"), 0);
  EXPECT_EQ(Live(loaded), (Texts{"172.17.254.254 tcp 4208+", "10.0.0.2 udp 080+"}));

  list.MarkAllDeleted(1);
  ASSERT_EQ(list.Save("quarantine.csv"), 0);
  EXPECT_EQ(dir.Read("quarantine.csv"), "");
}

TEST(QuarantineDataListTest, MissingFileLeavesTheRegistryUnchanged) {
  testing_support::TempDir dir;
  CQuarantineDataList list;
  Add(list, "10.0.0.1", "tcp", "80");
  EXPECT_EQ(list.Load("quarantine.csv"), -1);
  EXPECT_EQ(Live(list), Texts{"10.0.0.1 tcp 80"});
}

// Each file is loaded over one older record, which must end up withdrawn whatever the file.
TEST(QuarantineDataListTest, LoadStoresTheLinesBeforeTheFirstBadOne) {
  const std::string longLine = "\"10.0.0.1\",\"tcp\",\"80\"," + std::string(4095 - 22, 'x');
  ASSERT_EQ(longLine.size(), 4095u);
  const struct {
    const char* name;
    std::string content;
    int result;
    Texts live;
  } cases[] = {
      {"good lines", "\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.1\",\"udp\",\"80\"\r\n", 0, {"10.0.0.1 tcp 80+", "10.0.0.1 udp 80+"}},
      {"empty file", "", 0, {}},
      {"no final line end", "\"10.0.0.1\",\"udp\",\"53\"", 0, {"10.0.0.1 udp 53+"}},
      {"bare and padded columns", " 10.0.0.1 ,\tudp , 53 \t\r\n", 0, {"10.0.0.1 udp 53+"}},
      {"columns after the third", "\"10.0.0.1\",\"tcp\",\"80\",\"\",junk\r\n", 0, {"10.0.0.1 tcp 80+"}},
      {"upper-case protocol", "\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.2\",\"TCP\",\"80\"\r\n\"10.0.0.3\",\"tcp\",\"80\"\r\n", -1,
       {"10.0.0.1 tcp 80+"}},
      {"two columns", "\"10.0.0.1\",\"tcp\"\r\n", -1, {}},
      {"final column of two quotes", "\"10.0.0.1\",\"tcp\",\"\"\r\n", -1, {}},
      {"empty middle column", "\"10.0.0.1\",,\"80\"\r\n", -1, {}},
      {"port out of range", "\"10.0.0.1\",\"tcp\",\"65536\"\r\n", -1, {}},
      {"bad address", "\"10.0.0.256\",\"tcp\",\"80\"\r\n", -1, {}},
      {"duplicate line", "\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.1\",\"tcp\",\"80\"\r\n", -1, {"10.0.0.1 tcp 80+"}},
      {"line longer than the buffer", longLine + "\"10.0.0.2\",\"udp\",\"53\"\r\n", 0, {"10.0.0.1 tcp 80+", "10.0.0.2 udp 53+"}},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("quarantine.csv", c.content);
    CQuarantineDataList list;
    Add(list, "192.0.2.1", "tcp", "1");
    EXPECT_EQ(list.Load("quarantine.csv"), c.result);
    EXPECT_EQ(Live(list), c.live);
    EXPECT_EQ(list.GetCount(false), static_cast<int>(c.live.size()) + 1);
  }
}

}  // namespace
