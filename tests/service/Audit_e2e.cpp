// The audit trail of the whole velnor: every console change is logged once at notice level
// with who made it and how it went, nothing that only looks is, and no password gets out,
// however the operator typed it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/ServiceFixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18241;

class AuditTest : public ServiceFixture {
 protected:
  void SetUp() override { ASSERT_EQ(Run({"-RegServer"}), 0); }
};

TEST_F(AuditTest, ChangesAreAuditedOnceAndPasswordsNeverShow) {
  dir_.Write("Velnor.ini", "[SERVICE]\nPORT=" + std::to_string(kPort) + "\n");
  VelnorProcess velnor({}, units_);
  ASSERT_TRUE(collector_->Until("Start processing was finished.")) << velnor.Err();
  ConsoleClient console(kPort);
  ASSERT_TRUE(console.ReadPrompt()) << velnor.Err();
  const std::vector<std::string> secrets = {"Sekret1", "Sek,ret2", "Sekret3", "Sekret4", "Sekret5", "Sekret6"};

  // Replies as the console gives them; the audit lines that must follow, in this order.
  EXPECT_EQ(console.Command("gw add 127.0.0.5 user admin pass Sekret1"), "");
  EXPECT_EQ(console.Command("gw add 127.0.0.6 pass Sek,ret2"),
            "gw: invalid option\r\n\r\nUsage: gw add TARGET [sport SRC_PORT] [user ID] [pass PW]\r\n\r\n"
            "Examples:\r\n  gw add 172.16.0.1\r\n");
  ASSERT_TRUE(console.Command("gw add pass Sekret3"));
  ASSERT_TRUE(console.Command("gw a 127.0.0.5 P  Sekret5"));
  for (const char* look : {"gw", "gw sh", "pc", "help", "acl show", "nac stop", "service", "gw show pass Sekret6"}) {
    ASSERT_TRUE(console.Command(look)) << look;
  }
  // One line in pieces, each sent at once on its own: the line is masked whole.
  const int on = 1;
  ASSERT_EQ(::setsockopt(console.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on), 0);
  for (const char* piece : {"gw add 127.0.0.7 pa", "ss Sek", "ret4 sport 8", "80\n"}) {
    ASSERT_TRUE(console.Send(piece));
    std::this_thread::sleep_for(20ms);  // separate segments are likely, not required
  }
  ASSERT_EQ(console.ReadPrompt(), "$ ");
  EXPECT_EQ(console.Command("pc add source-mac 02:00:00:00:00:01"), "");
  EXPECT_EQ(console.Command("service set sport 8001"), "");
  EXPECT_EQ(console.Command("gw del 127.0.0.7"), "");
  EXPECT_EQ(console.Command("gw save"), "");

  velnor.Signal(SIGTERM);
  EXPECT_EQ(velnor.Wait(10s), 0) << velnor.Err();
  const std::vector<std::string> datagrams = collector_->Drain(100ms);
  std::vector<std::string> audited;
  for (const std::string& datagram : datagrams) {
    for (const std::string& secret : secrets) EXPECT_EQ(datagram.find(secret), std::string::npos) << datagram;
    const std::string text = LogText(datagram);
    if (text.rfind("Audit: ", 0) != 0) continue;
    EXPECT_EQ(std::atoi(datagram.c_str() + 1) & 7, 5) << datagram;
    // The operator's port differs from run to run.
    const std::size_t slot = text.find(" slot ");
    ASSERT_NE(slot, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, 17), "Audit: 127.0.0.1:");
    audited.push_back(text.substr(slot + 1));
  }
  EXPECT_EQ(audited, (std::vector<std::string>{
                         "slot 0 \"gw add 127.0.0.5 user admin pass ***\" done",
                         "slot 0 \"gw add 127.0.0.6 pass ***\" refused: gw: invalid option",
                         "slot 0 \"gw add pass ***\" refused: gw: invalid option",
                         "slot 0 \"gw a 127.0.0.5 P  ***\" refused: gw: invalid option",
                         "slot 0 \"gw add 127.0.0.7 pass *** sport 880\" done",
                         "slot 0 \"pc add source-mac 02:00:00:00:00:01\" done",
                         "slot 0 \"service set sport 8001\" done",
                         "slot 0 \"gw del 127.0.0.7\" done",
                         "slot 0 \"gw save\" done",
                     }));
  EXPECT_EQ(velnor.Err().find("Sekret"), std::string::npos);
}

}  // namespace
