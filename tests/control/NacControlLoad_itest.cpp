// The controller's start reads the four registry files and clears the added flags, so
// that nothing read from a file counts as a new change.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/NacControl.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "registry/GwrouteData.h"
#include "registry/PcData.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineData.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::LogText;
using testing_support::TempDir;
using testing_support::UdpCollector;

const std::vector<std::string> kReadingLines = {
    "I succeeded in reading of GW data.", "I succeeded in reading of GWROUTE data.",
    "I succeeded in reading of PC data.", "I succeeded in reading of QUARANTINE data."};

// Starts a controller, stops it as the service does, and gives the texts it logged.
std::vector<std::string> RunController(UdpCollector& collector) {
  CloseSyslog();
  SetLogThreshold(7);
  {
    CNacControl controller;
    platform::PostThreadMessage(controller.ThreadId(), platform::WM_QUIT, 0, 0);
    controller.WaitForEnd();
  }
  std::vector<std::string> texts;
  for (const std::string& datagram : collector.Drain()) texts.push_back(LogText(datagram, ""));
  return texts;
}

bool Logged(const std::vector<std::string>& texts, const std::string& line) {
  return std::find(texts.begin(), texts.end(), line) != texts.end();
}

// Every record of a registry, live or not, with its added flag.
template <class Record, class List>
std::vector<std::int32_t> AddedFlags(List& list) {
  std::vector<std::int32_t> flags;
  CNacList::Guard guard(list, false);
  for (CNacNode* node = list.GetHead(true); node != nullptr; node = list.GetNext(node, true)) {
    if (node->RecordAs<Record>()->IsLive()) flags.push_back(node->RecordAs<Record>()->added);
  }
  return flags;
}

TEST(ControllerStart, WithoutRegistryFilesLogsNoReadingLine) {
  UdpCollector collector(41);
  TempDir dir;
  dir.Write("syslog.ini", collector.SyslogIni());
  const std::vector<std::string> texts = RunController(collector);
  ASSERT_TRUE(Logged(texts, "Start processing was finished."));
  for (const std::string& line : kReadingLines) EXPECT_FALSE(Logged(texts, line)) << line;
}

TEST(ControllerStart, ReadsTheFourFilesAndClearsTheAddedFlags) {
  UdpCollector collector(42);
  TempDir dir;
  dir.Write("syslog.ini", collector.SyslogIni());
  dir.Write("gw.csv", "\"127.0.10.1\",880,\"admin\",\"tovin\"\r\n\"127.0.10.2\",8080,\"op\",\"pw\"\r\n");
  dir.Write("gwroute.csv", "\"127.0.10.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
                           "\"127.0.10.1\",\"eth1\",\"10.0.0.0\",\"255.0.0.0\"\r\n");
  dir.Write("pc.csv", "\"00:11:22:33:44:55\",\"192.168.0.1\",\"\",\"\"\r\n\"\",,\"192.168.1.0\",\"255.255.255.0\"\r\n");
  dir.Write("quarantine.csv", "\"172.17.254.254\",\"tcp\",\"4208\"\r\n");

  const std::vector<std::string> texts = RunController(collector);
  for (const std::string& line : kReadingLines) EXPECT_TRUE(Logged(texts, line)) << line;

  EXPECT_EQ(AddedFlags<CGwData>(GetGwDataList()), (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(AddedFlags<CPcData>(GetPcDataList()), (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(AddedFlags<CQuarantineData>(GetQuarantineDataList()), (std::vector<std::int32_t>{0}));
  CNacList::Guard guard(GetGwDataList(), false);
  int routes = 0;
  for (CNacNode* node = GetGwDataList().GetHead(true); node != nullptr; node = GetGwDataList().GetNext(node, true)) {
    const std::vector<std::int32_t> flags = AddedFlags<CGwrouteData>(node->RecordAs<CGwData>()->Routes());
    routes += static_cast<int>(flags.size());
    EXPECT_TRUE(std::all_of(flags.begin(), flags.end(), [](std::int32_t added) { return added == 0; }));
  }
  EXPECT_EQ(routes, 2);
}

}  // namespace
