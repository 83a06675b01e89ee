// NAC entries kept across a restart of the whole service: with PERSIST=enable what the
// operators entered comes back at the next start, and each gateway's reset carries it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "tests/common/ConsoleClient.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/common/VelnorProcess.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18331;

TEST(NacKeptTest, EntriesComeBackAfterARestartAndGoToTheGateways) {
  TempDir dir;
  const std::string units = dir.File("units");
  ASSERT_EQ(::mkdir(units.c_str(), 0755), 0);
  auto collector = UdpCollector::OnFreeAddress();
  dir.Write("syslog.ini", collector->SyslogIni("debug"));
  dir.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n[NAC]\nPERSIST=enable\n");
  ASSERT_EQ(VelnorProcess({"-RegServer"}, units).Wait(), 0);

  const auto session = [] {
    auto console = std::make_unique<ConsoleClient>(kPort);
    for (int i = 0; i < 100 && !console->ReadPrompt(100ms); ++i) console = std::make_unique<ConsoleClient>(kPort);
    return console;
  };
  {
    VelnorProcess velnor({}, units);
    auto console = session();
    for (const char* line : {"gw add 127.0.0.81", "gw save", "pc add source-mac 00:11:22:33:44:55", "pc save",
                             "quarantine add source 172.17.0.1 protocol udp sport 53", "quarantine save",
                             "nac add drop source 10.9.9.9 source-mac 00:11:22:33:44:55",
                             "nac add accept source 10.8.8.8"}) {
      EXPECT_EQ(console->Command(line), "") << line;
    }
    velnor.Signal(SIGTERM);
    ASSERT_EQ(velnor.Wait(10s), 0);
  }
  EXPECT_EQ(Slurp("nac.csv"), "\"drop\",\"10.9.9.9\",\"00:11:22:33:44:55\"\r\n\"accept\",\"10.8.8.8\",\"\"\r\n");

  VelnorProcess velnor({}, units);
  auto console = session();
  EXPECT_EQ(console->Command("nac"), "TARGET\tDESTINATION\tADDRESS\t\t\tFQDN\r\ndrop\t10.9.9.9\t00:11:22:33:44:55\r\n"
                                     "accept\t10.8.8.8\t\r\n");
  const std::string preview = console->Command("acl show 127.0.0.81").value_or("");
  EXPECT_NE(preview.find("acl=add access-list nac drop source 10.9.9.9 source-mac 00:11:22:33:44:55\r\n"),
            std::string::npos)
      << preview;
  velnor.Signal(SIGTERM);
  EXPECT_EQ(velnor.Wait(10s), 0);
}

}  // namespace
