// The whole velnor through faults an administrator meets: the collector down, a working
// directory that cannot be written, the command port taken, a crash in the middle of a save.
// Each time the service keeps what it has and goes on with the rest. (A gateway that never
// answers holds only its own sender: the delivery tests.)

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpListener.h"
#include "platform/UniqueFd.h"
#include "gwsim/GatewaySimulator.h"
#include "tests/common/PeerProcess.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/ServiceFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One quarantine server, there from the start: a PC added then is sent by its own walk alone,
// its two client rules (the second is the same for every PC).
const std::string kServer = "\"172.17.0.10\",\"tcp\",\"4208\"\r\n";

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The files a save of pc.csv is writing, or left behind when it was interrupted.
std::vector<fs::path> PcSavesUnderWay(const std::string& directory) {
  std::vector<fs::path> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("pc.csv.", 0) == 0 && name.size() == 13 && name != "pc.csv.bak") found.push_back(entry.path());
  }
  return found;
}

class FaultsTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    PrivateNetwork::AnswerEcho(true);
    ASSERT_EQ(Run({"-RegServer"}), 0);
  }
  // A simulated gateway on port 880 of this address, added to the namespace's lo.
  static std::unique_ptr<gwsim::GatewaySimulator> Gateway(const std::string& address) {
    PrivateNetwork::AddAddress(address);
    return std::make_unique<gwsim::GatewaySimulator>(address, 880);
  }
  // The log texts up to the one that contains text; none after the time-out.
  std::optional<std::vector<std::string>> LoggedUntil(const std::string& text, std::chrono::seconds timeout) {
    const auto datagrams = collector_->Until(text, timeout);
    return datagrams ? std::optional(LogTexts(*datagrams)) : std::nullopt;
  }
};

// Nothing listens where syslog.ini points: the console answers and rules are delivered all
// the same, and once a collector is there it gets the lines from then on.
TEST_F(FaultsTest, WithoutACollectorOnlyTheLogLinesAreLost) {
  // Port 514 of this host is held, as the host's own syslog daemon would hold it, so the
  // service sends from another port and the collector can come up later where it points.
  platform::UniqueSocket localSyslog(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const sockaddr_in local{AF_INET, htons(514), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(::bind(localSyslog.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
  const int host = collector_->Address() == "127.0.0.77" ? 78 : 77;
  dir_.Write("syslog.ini", "[SYSLOG]\nDESTINATION=127.0.0." + std::to_string(host) + "\nPRIORITYMASK=debug\n");
  dir_.Write("quarantine.csv", kServer);
  auto gateway = Gateway("10.30.0.5");

  auto velnor = Start();
  auto console = Console();
  EXPECT_EQ(console->Command("gw add 10.30.0.5"), "");
  ASSERT_TRUE(gateway->WaitForRequests(2, 30s));  // the resets, once its probe answered
  EXPECT_EQ(console->Command("pc add source-mac 02:00:00:00:0b:01"), "");
  ASSERT_TRUE(gateway->WaitForRequests(4, 10s));
  EXPECT_EQ(gateway->Rules().size(), 2u);

  UdpCollector lateCollector(host);
  EXPECT_EQ(console->Command("pc add source-mac 02:00:00:00:0b:02"), "");
  ASSERT_TRUE(gateway->WaitForRequests(6, 10s));
  EXPECT_EQ(gateway->Rules().size(), 3u);
  EXPECT_TRUE(lateCollector.Until("Response cord from GW(10.30.0.5:880) is OK.", 10s));
  Stop(velnor);
}

// The working directory is a read-only mount for the service alone (a mount namespace of
// its own): every save answers "save error", the files stay as they were, and what the
// operator typed is still held.
TEST_F(FaultsTest, AReadOnlyWorkingDirectoryFailsTheSaveAndKeepsTheOldFile) {
  const std::string pcs = "\"02:00:00:00:0C:01\",\"10.0.0.1\",\"\",\"\"\r\n";
  dir_.Write("pc.csv", pcs);
  PeerProcess velnor({"unshare", "-m", "--", "sh", "-c",
                      "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && cd \"$0\" && exec \"$1\"",
                      dir_.Path(), VELNOR_BINARY},
                     dir_.File("out.txt"), dir_.File("err.txt"));
  ASSERT_TRUE(WaitForFileText(dir_.File("out.txt"), "Service started\n", 30s)) << Slurp(dir_.File("err.txt"));

  auto console = Console();
  EXPECT_EQ(console->Command("pc add source-mac 02:00:00:00:0c:02"), "");
  for (const char* save : {"pc save", "gw save", "gwroute save", "quarantine save", "service save"}) {
    EXPECT_EQ(console->Command(save), "save error\r\n") << save;
  }
  EXPECT_EQ(Slurp("pc.csv"), pcs);
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Velnor.reg", "err.txt", "out.txt", "pc.csv", "syslog.ini", "units"}));
  EXPECT_NE(console->Command("pc").value_or("").find("02:00:00:00:0C:02"), std::string::npos);

  EXPECT_EQ(velnor.Stop(SIGTERM, 30s), 0);
  EXPECT_EQ(Slurp(dir_.File("err.txt")), "");
}

// The command port is held by another program at start: the service says so once, runs on
// without a console (a gateway from gw.csv gets its resets), and opens the console within a
// retry period of the port's release.
TEST_F(FaultsTest, ACommandPortInUseAtStartIsTakenOnceFreed) {
  constexpr std::uint16_t kPort = 18241;
  platform::UniqueSocket holder = platform::ListenTcp({.port = kPort});
  ASSERT_TRUE(holder);
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n");
  dir_.Write("gw.csv", "\"10.30.0.6\",880,\"admin\",\"tovin\"\r\n");
  auto gateway = Gateway("10.30.0.6");

  auto velnor = Start();
  const std::string failed = "I failed in bind for command processing.";
  ASSERT_TRUE(collector_->Until(failed, 10s));
  const auto refused = Clock::now();
  EXPECT_TRUE(gateway->WaitForRequests(2, 30s));
  // Past a retry or two while the port is still held; none of them says anything.
  std::this_thread::sleep_until(std::max(Clock::now(), refused + 6s));
  holder.Reset();
  const auto freed = Clock::now();
  const std::optional<std::vector<std::string>> held =
      LoggedUntil("I succeeded in bind for command processing on port " + std::to_string(kPort) + ".", 10s);
  ASSERT_TRUE(held);
  EXPECT_LT(Clock::now() - freed, 6500ms);
  EXPECT_FALSE(Contains(*held, failed));
  EXPECT_EQ(Console(kPort)->Command("gw"), "GW\t\tPORT\tID\tPW\r\n10.30.0.6\t880\tadmin\t********\r\n");
  Stop(velnor);
}

// An outage beside hung routers: 200 gateways that no longer answer a ping, and five whose CGI
// takes the connection and never answers. A healthy gateway still gets its resets at once,
// and SIGTERM ends the service promptly, whatever probes, answers and pauses are in flight.
TEST_F(FaultsTest, AnOutageAndHungRoutersHoldBackNeitherAHealthyGatewayNorTheStop) {
  const std::string silent = PrivateNetwork::SilentNetwork();
  std::string gw;
  const auto line = [](const std::string& address) { return "\"" + address + "\",880,\"admin\",\"tovin\"\r\n"; };
  for (int host = 1; host <= 200; ++host) gw += line(silent + std::to_string(host));
  std::vector<std::unique_ptr<gwsim::GatewaySimulator>> hung;
  for (int host = 1; host <= 5; ++host) {
    hung.push_back(Gateway("10.30.1." + std::to_string(host)));
    hung.back()->SetBehaviour({.fault = gwsim::Fault::kSilent});
    gw += line(hung.back()->Address());
  }
  auto healthy = Gateway("10.30.1.9");
  gw += line(healthy->Address());
  dir_.Write("gw.csv", gw);

  auto velnor = Start();
  for (const auto& gateway : hung) ASSERT_TRUE(gateway->WaitForRequests(1, 30s)) << gateway->Address();
  EXPECT_TRUE(healthy->WaitForRequests(2, 30s)) << "the healthy gateway's two resets";
  const auto stopping = Clock::now();
  velnor->Signal(SIGTERM);
  EXPECT_EQ(velnor->Wait(30s), 0);
  EXPECT_LT(Clock::now() - stopping, 5s) << "the stop waited for what was in flight";
  EXPECT_EQ(velnor->Err(), "");
}

// A kill -9 while "pc save" writes 200,000 PCs: pc.csv is then the file before the save or
// the file after it, whole, and the next start removes what the save left and loads it all.
TEST_F(FaultsTest, AKillDuringASaveLeavesTheOldOrTheNewFileWhole) {
  constexpr int kPcs = 200000;
  std::string old;
  old.reserve(kPcs * 40);
  for (int i = 0; i < kPcs; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "\"02:00:00:%02X:%02X:%02X\",\"10.%d.%d.%d\",\"\",\"\"\r\n", i >> 16,
                  (i >> 8) & 255, i & 255, i >> 16, (i >> 8) & 255, i & 255);
    old += line;
  }
  dir_.Write("pc.csv", old);
  auto velnor = Start(120s);
  // The console opens once the files are loaded.
  ASSERT_TRUE(LoggedUntil("Start processing was finished.", 120s));
  auto console = Console();
  EXPECT_EQ(console->Command("pc add source-mac 02:ff:00:00:00:01"), "");
  // A save that completes: the loaded PCs as they were read, and the new one.
  ASSERT_EQ(console->Command("pc save", 120s), "");
  const std::string saved = Slurp("pc.csv");
  ASSERT_EQ(saved, old + "\"02:FF:00:00:00:01\",,\"\",\"\"\r\n") << "the save changed the loaded PCs";
  dir_.Write("pc.csv.restore", old);
  fs::rename("pc.csv.restore", "pc.csv");

  ASSERT_TRUE(console->Send("pc save\n"));
  bool killed = false;
  for (const auto deadline = Clock::now() + 120s; !killed && Clock::now() < deadline;) {
    for (const fs::path& temporary : PcSavesUnderWay(dir_.Path())) {
      std::error_code error;
      if (fs::file_size(temporary, error) > 0 && !error) {
        velnor->Signal(SIGKILL);
        killed = true;
        break;
      }
    }
  }
  ASSERT_TRUE(killed) << "no save was seen under way";
  EXPECT_EQ(velnor->Wait(10s), -SIGKILL);
  EXPECT_EQ(velnor->Err(), "");
  ASSERT_FALSE(console->ReadPrompt(2s)) << "the save had ended before the kill: the test proves nothing";
  const std::size_t leftovers = PcSavesUnderWay(dir_.Path()).size();
  const std::string after = Slurp("pc.csv");
  EXPECT_TRUE(after == old || after == saved) << "pc.csv is neither: " << after.size() << " bytes, not "
                                              << old.size() << " or " << saved.size();
  EXPECT_LE(leftovers, 1u);

  collector_->Drain(100ms);
  velnor = Start(120s);
  const std::optional<std::vector<std::string>> start = LoggedUntil("Start processing was finished.", 120s);
  ASSERT_TRUE(start);
  EXPECT_EQ(Contains(*start, "I removed 1 temporary files that interrupted saves had left."), leftovers == 1);
  EXPECT_TRUE(Contains(*start, "I succeeded in reading of PC data."));
  EXPECT_TRUE(PcSavesUnderWay(dir_.Path()).empty());
  // Loaded whole: saved again, it is the same file.
  ASSERT_EQ(Console()->Command("pc save", 120s), "");
  EXPECT_TRUE(Slurp("pc.csv") == after) << "the PCs loaded after the kill are not those of pc.csv";
  Stop(velnor);
}

}  // namespace
