// Two hosts, each a network namespace of its own with keepalived as the package ships it,
// share one working directory; the operators' network is the test's own namespace, where
// the gateway and the operator are. When velnor dies on the master, or the master dies
// whole, the address and velnor move to the other host, and the gateway ends up holding
// every change whose prompt had come back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "tests/common/PeerProcess.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/ServiceFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kLan[] = "10.77.0.";
constexpr char kVirtual[] = "10.77.0.100";
constexpr char kQuarantineRule[] = "pc accept protocol tcp source 172.17.0.1 sport 80";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("not in the shipped recipe: " + from);
  return text.replace(at, from.size(), to);
}

std::string MacOf(int n) {
  char mac[32];
  std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", n / 256, n % 256);
  return mac;
}

// One host: a network namespace held by a sleeping process, joined to the test's bridge by
// a veth pair whose end in the host is eth0; keepalived runs there with the shipped recipe,
// and velnor when keepalived starts it.
class Host {
 public:
  Host(const std::string& name, int last, int peerLast, int priority, const std::string& shared)
      : name_(name), shared_(shared) {
    holder_ = std::make_unique<PeerProcess>(std::vector<std::string>{"unshare", "--net", "--", "sleep", "100000"},
                                            "/dev/null", "/dev/null");
    const std::string pid = std::to_string(holder_->Pid());
    // unshare makes the namespace and then becomes sleep; until then the link would land here.
    for (int i = 0; i < 500 && fs::read_symlink("/proc/" + pid + "/ns/net") == fs::read_symlink("/proc/self/ns/net");
         ++i) {
      std::this_thread::sleep_for(10ms);
    }
    const std::string link = "v" + name;
    Ok("ip link add " + link + " type veth peer name eth0 netns " + pid + " && ip link set " + link +
       " master br0 up");
    Ok(In(std::string("ip link set lo up && ip addr add ") + kLan + std::to_string(last) + "/24 dev eth0 && ip link set eth0 up"));

    const std::string scripts = std::string(VELNOR_SOURCE_DIR) + "/packaging/keepalived";
    const std::string settings = File("settings");
    std::ofstream(settings) << "VELNOR_START='cd " << shared << " && " << VELNOR_BINARY << " >>" << File("velnor.out")
                            << " 2>&1 & echo $! >" << File("velnor.pid") << "'\n"
                            << "VELNOR_STOP='pid=$(cat " << File("velnor.pid")
                            << " 2>/dev/null) && kill $pid && while kill -0 $pid 2>/dev/null; do sleep 0.1; done; "
                               "true'\n"
                            << "VELNOR_STATE=" << File("state") << "\nVELNOR_GRACE=3\n";
    std::ifstream shipped(scripts + "/keepalived.conf");
    std::string conf((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
    conf = Replaced(conf, "priority 150", "priority " + std::to_string(priority));
    conf = Replaced(conf, "unicast_src_ip 192.0.2.11", std::string("unicast_src_ip ") + kLan + std::to_string(last));
    conf = Replaced(conf, "192.0.2.12 ", kLan + std::to_string(peerLast) + " ");
    conf = Replaced(conf, "192.0.2.10/24", std::string(kVirtual) + "/24");
    conf = Replaced(conf, "/usr/share/velnor/keepalived/velnor-check\"",
                    scripts + "/velnor-check " + settings + "\"");
    for (const char* state : {"master", "backup", "fault", "stop"}) {
      conf = Replaced(conf, std::string("/usr/share/velnor/keepalived/velnor-notify ") + state + "\"",
                      scripts + "/velnor-notify " + state + " " + settings + "\"");
    }
    std::ofstream(File("keepalived.conf")) << conf;
    StartKeepalived();
  }
  ~Host() { Crash(); }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  void StartKeepalived() {
    keepalived_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{"nsenter", "--net=/proc/" + std::to_string(holder_->Pid()) + "/ns/net", "--",
                                 PeerProcess::FindProgram("keepalived"), "-n", "-l", "-D", "--vrrp", "-f",
                                 File("keepalived.conf"), "-p", File("keepalived.pid"), "-r", File("vrrp.pid")},
        File("keepalived.out"), File("keepalived.out"));
  }
  // kill -9 of every process of the host but its holder: keepalived, its scripts, velnor.
  void Crash(bool velnorOnly = false) {
    const fs::path ns = fs::read_symlink("/proc/" + std::to_string(holder_->Pid()) + "/ns/net");
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(holder_->Pid())) continue;
      std::error_code error;
      if (fs::read_symlink(entry.path() / "ns/net", error) != ns || error) continue;
      if (velnorOnly && Slurp(entry.path() / "comm").rfind("velnor", 0) != 0) continue;
      ::kill(std::stoi(pid), SIGKILL);
    }
    if (!velnorOnly && keepalived_) keepalived_->Wait(5s);
  }
  bool HoldsTheAddress() const {
    return Shell(In("ip -o addr show dev eth0")).output.find(std::string(kVirtual) + "/") != std::string::npos;
  }
  bool RunsVelnor() const {
    const std::string pid = Slurp(File("velnor.pid"));
    return !pid.empty() && ::kill(std::stoi(pid), 0) == 0;
  }
  std::string Log() const { return Slurp(File("keepalived.out")) + Slurp(File("velnor.out")); }

 private:
  std::string File(const std::string& what) const { return shared_ + "/host-" + name_ + "." + what; }
  std::string In(const std::string& command) const {
    return "nsenter --net=/proc/" + std::to_string(holder_->Pid()) + "/ns/net -- sh -c '" + command + "'";
  }
  static void Ok(const std::string& command) {
    const Outcome outcome = Shell(command);
    if (outcome.status != 0) throw std::runtime_error(command + ": " + outcome.output);
  }

  std::string name_;
  std::string shared_;
  std::unique_ptr<PeerProcess> holder_;
  std::unique_ptr<PeerProcess> keepalived_;
};

class FailoverTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    ASSERT_FALSE(PeerProcess::FindProgram("keepalived").empty())
        << "keepalived is missing: tools/test.sh installs the Debian package keepalived";
    PrivateNetwork::AnswerEcho(true);
    ASSERT_EQ(Shell(std::string("ip link add br0 type bridge && ip addr add ") + kLan + "10/24 dev br0 && " +
                    "ip link set br0 up").status,
              0);
    ASSERT_EQ(Run({"-RegServer"}), 0);
    dir_.Write("Velnor.ini", "[SERVICE]\nPORT=8000\nREMOTE=enable\nAUTOSAVE=enable\n");
  }

  // An operator at the virtual address, once some host answers there.
  static std::unique_ptr<ConsoleClient> Operator(std::chrono::seconds timeout) {
    for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
      auto console = std::make_unique<ConsoleClient>(8000, "", kVirtual);
      if (console->Connected() && console->ReadPrompt()) return console;
    }
    return nullptr;
  }

  // Sends every line at once, as a piped script, and counts the prompts that come back until
  // the connection ends or crash says so: the lines acknowledged, in order.
  static std::size_t PipeUntil(ConsoleClient& console, const std::vector<std::string>& lines, std::size_t crashAt,
                               const std::function<void()>& crash) {
    std::string script;
    for (const std::string& line : lines) script += line + "\n";
    EXPECT_TRUE(console.Send(script));
    std::size_t acknowledged = 0;
    while (acknowledged < lines.size() && console.ReadPrompt(10s)) {
      if (++acknowledged == crashAt) crash();
    }
    return acknowledged;
  }

  // Whether the gateway comes to hold the quarantine rule and every acknowledged PC's rule;
  // how long that took from since.
  static std::optional<Clock::duration> AwaitInSync(const gwsim::GatewaySimulator& gateway,
                                                    const std::vector<std::string>& macs, Clock::time_point since) {
    for (const auto deadline = since + 60s; Clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
      const std::vector<std::string> rules = gateway.Rules();
      const std::set<std::string> held(rules.begin(), rules.end());
      const bool all = held.count(kQuarantineRule) != 0 && std::all_of(macs.begin(), macs.end(), [&](const auto& mac) {
        return held.count("pc accept protocol tcp destination 172.17.0.1 dport 80 source-mac " + mac) != 0;
      });
      if (all) return Clock::now() - since;
    }
    return std::nullopt;
  }
};

TEST_F(FailoverTest, TheStandbyTakesOverAndTheGatewayGetsEveryAcknowledgedChange) {
  gwsim::GatewaySimulator gateway(std::string(kLan) + "10", 0);
  const std::string shared = dir_.Path();
  auto a = std::make_unique<Host>("a", 1, 2, 150, shared);
  Host b("b", 2, 1, 100, shared);
  std::unique_ptr<ConsoleClient> console = Operator(60s);
  ASSERT_TRUE(console) << a->Log() << b.Log();
  EXPECT_TRUE(a->HoldsTheAddress());
  ASSERT_TRUE(console->Command("quarantine add source 172.17.0.1 protocol tcp sport 80"));
  ASSERT_TRUE(console->Command("gw add " + std::string(kLan) + "10 sport " + std::to_string(gateway.Port())));

  // velnor alone dies on the master, in the middle of a piped batch: the health check gives
  // the address up, and the standby starts velnor on the shared directory.
  std::vector<std::string> lines, macs;
  for (int n = 0; n < 400; ++n) lines.push_back("pc add source-mac " + MacOf(n));
  Clock::time_point crashed;
  std::size_t acknowledged = PipeUntil(*console, lines, 150, [&] {
    crashed = Clock::now();
    a->Crash(true);
  });
  ASSERT_GE(acknowledged, 150u);
  for (std::size_t n = 0; n < acknowledged; ++n) macs.push_back(MacOf(static_cast<int>(n)));
  std::optional<Clock::duration> took = AwaitInSync(gateway, macs, crashed);
  ASSERT_TRUE(took) << a->Log() << b.Log();
  std::printf("velnor killed on the master: the gateway was in sync on the standby %.2f s later\n",
              std::chrono::duration<double>(*took).count());
  EXPECT_TRUE(b.HoldsTheAddress());
  EXPECT_TRUE(b.RunsVelnor());
  EXPECT_FALSE(a->RunsVelnor());

  // The standby is the master now; the whole of it dies (keepalived and velnor) during the
  // next batch, and the first host, back as a standby, takes over.
  console = Operator(30s);
  ASSERT_TRUE(console) << b.Log();
  lines.clear();
  for (int n = 400; n < 800; ++n) lines.push_back("pc add source-mac " + MacOf(n));
  acknowledged = PipeUntil(*console, lines, 150, [&] {
    crashed = Clock::now();
    b.Crash();
  });
  for (std::size_t n = 0; n < acknowledged; ++n) macs.push_back(MacOf(400 + static_cast<int>(n)));
  took = AwaitInSync(gateway, macs, crashed);
  ASSERT_TRUE(took) << a->Log() << b.Log();
  std::printf("the master crashed whole: the gateway was in sync on the standby %.2f s later\n",
              std::chrono::duration<double>(*took).count());
  EXPECT_TRUE(a->HoldsTheAddress());
  EXPECT_TRUE(a->RunsVelnor());
}

}  // namespace
