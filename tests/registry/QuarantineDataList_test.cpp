#include "registry/QuarantineDataList.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"

namespace {

std::unique_ptr<CQuarantineData> Server(const char* source, const char* protocol, const char* port) {
  auto server = std::make_unique<CQuarantineData>();
  EXPECT_TRUE(server->SetSource(source) && server->SetPort(port));
  server->protocol = protocol;
  return server;
}

int Add(CQuarantineDataList& list, const char* source, const char* protocol, const char* port) {
  auto server = Server(source, protocol, port);
  const int result = list.AddUnique(server.get());
  if (result == 0) server.release();
  return result;
}

// "source protocol port" per record.
std::string Servers(CQuarantineDataList& list) {
  return testing_support::Dump<CQuarantineData>(list, [](const CQuarantineData& s) {
    return s.sourceText + " " + s.protocol + " " + s.portText;
  });
}

// Identity and match are one rule: address bytes, protocol text and port text.
TEST(QuarantineDataListTest, IdentityAndMatch) {
  CQuarantineDataList list;
  ASSERT_EQ(Add(list, "172.17.254.254", "tcp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.017.254.254", "tcp", "4208"), -1);
  EXPECT_EQ(Add(list, "172.17.254.254", "udp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "04208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.253", "tcp", "4208"), 0);
}

TEST(QuarantineDataListTest, FileHoldsLiveRecordsQuoted) {
  testing_support::TempDir dir;
  CQuarantineDataList list;
  Add(list, "172.17.254.254", "tcp", "4208");
  Add(list, "10.0.0.1", "udp", "53");
  Add(list, "10.0.0.2", "udp", "080");
  list.MarkDeleted(*Server("10.0.0.1", "udp", "53"));
  ASSERT_EQ(list.Save("quarantine.csv"), 0);
  EXPECT_EQ(dir.Read("quarantine.csv"), "\"172.17.254.254\",\"tcp\",\"4208\"\r\n\"10.0.0.2\",\"udp\",\"080\"\r\n");
}

// Each file is loaded over one older record, withdrawn unless the file is missing.
TEST(QuarantineDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const std::string longLine = "\"10.0.0.1\",\"tcp\",\"80\"," + std::string(4095 - 22, 'x');
  const struct {
    std::string content;  // "-": no file
    int result;
    std::string after;
  } cases[] = {
      {"-", -1, ""},
      {"", 0, ""},
      {" 10.0.0.1 ,\tudp , 53 \t\r\n\"10.0.0.2\",\"tcp\",\"80\",junk", 0, "10.0.0.1 udp 53+;10.0.0.2 tcp 80+;"},
      {"\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.2\",\"TCP\",\"80\"\r\n\"10.0.0.3\",\"tcp\",\"80\"\r\n", -1,
       "10.0.0.1 tcp 80+;"},
      {"\"10.0.0.1\",\"tcp\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"\"\r\n", -1, ""},
      {"\"10.0.0.1\",,\"80\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"65536\"\r\n", -1, ""},
      {"\"10.0.0.256\",\"tcp\",\"80\"\r\n", -1, ""},
      {"\"10.0.0.1\",\"tcp\",\"80\"\r\n\"10.0.0.1\",\"tcp\",\"80\"\r\n", -1, "10.0.0.1 tcp 80+;"},
      {longLine + "\"10.0.0.2\",\"udp\",\"53\"\r\n", 0, "10.0.0.1 tcp 80+;10.0.0.2 udp 53+;"},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    if (c.content != "-") dir.Write("q.csv", c.content);
    CQuarantineDataList list;
    Add(list, "192.0.2.1", "tcp", "1");
    EXPECT_EQ(list.Load(c.content != "-" ? "q.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Servers(list), (c.content != "-" ? "-192.0.2.1 tcp 1;" : "192.0.2.1 tcp 1;") + c.after);
  }
}

}  // namespace
