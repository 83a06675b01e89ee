// The controller's start reads the four registry files and clears the added flags, so
// that nothing read from a file counts as a new change.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "control/NacControl.h"
#include "platform/ThreadMessages.h"
#include "registry/GwDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

// Each record's '+' when it is flagged added, '-' when withdrawn.
template <class Record>
std::string Flags(CNacList& list) {
  return testing_support::Dump<Record>(list, [](const Record&) { return std::string(); });
}

// A stop demanded before the start work ends it at once: nothing is read or started.
TEST(ControllerStart, ReadsTheFourFilesAndClearsTheAddedFlags) {
  const std::vector<std::string> reading = {
      "I succeeded in reading of GW data.", "I succeeded in reading of GWROUTE data.",
      "I succeeded in reading of PC data.", "I succeeded in reading of QUARANTINE data.",
      "I succeeded in making of a COMMAND thread."};
  const struct {
    bool withFiles, stopFirst;
  } cases[] = {{false, false}, {true, true}, {true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.withFiles ? "with files" : "without files") + (c.stopFirst ? ", stopped" : ""));
    testing_support::UdpCollector collector(41);
    testing_support::TempDir dir;
    dir.Write("syslog.ini", collector.SyslogIni());
    dir.Write("Velnor.ini", "[SERVICE]\r\nPORT=18124\r\n");
    if (c.withFiles) {
      dir.Write("gw.csv", "\"127.0.10.1\",880,\"admin\",\"tovin\"\r\n\"127.0.10.2\",8080,\"op\",\"pw\"\r\n");
      dir.Write("gwroute.csv", "\"127.0.10.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
                               "\"127.0.10.1\",\"eth1\",\"10.0.0.0\",\"255.0.0.0\"\r\n");
      dir.Write("pc.csv", "\"00:11:22:33:44:55\",\"192.168.0.1\",\"\",\"\"\r\n"
                          "\"\",,\"192.168.1.0\",\"255.255.255.0\"\r\n");
      dir.Write("quarantine.csv", "\"172.17.254.254\",\"tcp\",\"4208\"\r\n");
    }
    CloseSyslog();
    SetLogThreshold(7);
    {
      std::atomic<int> endFlag{c.stopFirst ? 1 : 0};
      CNacControl controller(endFlag);
      platform::PostToThread(controller.ThreadId(), platform::kQuitMessage, 0, 0);
      controller.WaitForEnd();
    }
    const std::vector<std::string> texts = testing_support::LogTexts(collector.Drain(), "");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Start processing was finished."), texts.end());
    for (const std::string& line : reading) {
      const bool expected = line.find("COMMAND") != std::string::npos ? !c.stopFirst : c.withFiles && !c.stopFirst;
      EXPECT_EQ(std::find(texts.begin(), texts.end(), line) != texts.end(), expected) << line;
    }
    EXPECT_TRUE(!c.stopFirst || (GetGwDataList().IsEmpty(false) && GetPcDataList().IsEmpty(false)));
  }
  CGwDataList& gateways = GetGwDataList();
  EXPECT_EQ(Flags<CGwData>(gateways), ";;");
  EXPECT_EQ(Flags<CPcData>(GetPcDataList()), ";;");
  EXPECT_EQ(Flags<CQuarantineData>(GetQuarantineDataList()), ";");
  std::string routes;
  for (CNacNode* node = gateways.GetHead(false); node != nullptr; node = gateways.GetNext(node, false)) {
    routes += Flags<CGwrouteData>(node->RecordAs<CGwData>()->Routes());
  }
  EXPECT_EQ(routes, ";;");
}

}  // namespace
