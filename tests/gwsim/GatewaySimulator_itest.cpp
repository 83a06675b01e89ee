// The gateway simulator over loopback, as the service's tests rely on it: the rules it keeps,
// its credentials and its control commands. The requests it records and each answer and
// fault are read by the delivery tests that use them; the reading of requests is the fuzzer's.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "gwsim/ControlCommands.h"
#include "gwsim/GatewaySimulator.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/Eventually.h"

namespace {

using gwsim::Fault;
using gwsim::GatewaySimulator;
using gwsim::ReceivedRequest;
using testing_support::ConsoleClient;
using testing_support::Eventually;
using namespace std::chrono_literals;

constexpr char kAdmin[] = "YWRtaW46dG92aW4=";  // admin:tovin
constexpr char kPcRule[] =
    "accept protocol tcp source 172.17.254.254 destination 192.168.0.0/24 sport 4208";
constexpr char kNacRule[] = "accept in eth0 source 192.168.0.1 source-mac 00:00:00:00:00:00";
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok";

// The service's request for body, as its header template lays it out.
ReceivedRequest ServiceRequest(const std::string& body, const std::string& credentials = kAdmin) {
  return {"POST /quarantine/qacl.cgi HTTP/1.1\r\nAccept: */*\r\nAccept-Language: en-us\r\n"
          "Authorization: Basic " + credentials + "\r\nUser-Agent: Velnor/1.0\r\nHost: 127.0.0.1\r\n"
          "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\nCache-Control: no-cache\r\nKeepAlive: timeout=5\r\nConnection: Keep-Alive\r\n\r\n",
          body};
}

ReceivedRequest Order(const std::string& className, const std::string& line) {
  return ServiceRequest("version=1&class=" + className + "&opcode=set&count=1&acl=" + line);
}

const ReceivedRequest kAddPc = Order("client", std::string("add access-list pc ") + kPcRule);

std::string Bytes(const ReceivedRequest& request) { return request.header + request.body; }

const std::string kUnendingHeader = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::size_t Threads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

bool OnlyBlankLines(const std::optional<std::string>& text) {
  if (!text || text->size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text->size(); i += 2)
    if (text->compare(i, 2, "\r\n") != 0) return false;
  return true;
}

TEST(GatewaySimulatorTest, KeepsTheRulesOfAddDeleteAndReset) {
  GatewaySimulator gateway("127.0.0.1", 0);
  ConsoleClient client(gateway.Port());
  const std::vector<ReceivedRequest> sent = {
      kAddPc,
      kAddPc,  // a set: kept once
      Order("client", "add access-list pc drop source 192.168.0.7"),
      Order("quarantine", std::string("add access-list nac ") + kNacRule),
      Order("client", "delete access-list pc drop source 192.168.0.7"),
      // Orders it cannot take are answered all the same and change nothing: a list its class
      // does not own, a count that does not fit, an unknown verb.
      Order("client", std::string("add access-list nac ") + kNacRule),
      ServiceRequest("version=1&class=client&opcode=reset&count=1"),
      Order("client", std::string("insert access-list pc ") + kPcRule),
  };
  for (const ReceivedRequest& request : sent) {
    ASSERT_TRUE(client.Send(Bytes(request)));
    EXPECT_EQ(client.Read(kOk.size()), kOk);
  }
  EXPECT_EQ(gateway.Rules(), (std::vector<std::string>{std::string("nac ") + kNacRule, std::string("pc ") + kPcRule}));

  ASSERT_TRUE(client.Send(Bytes(ServiceRequest("version=1&class=client&opcode=reset&count=0"))));
  EXPECT_EQ(client.Read(kOk.size()), kOk);
  EXPECT_EQ(gateway.Rules(), std::vector<std::string>{std::string("nac ") + kNacRule});
  ASSERT_TRUE(client.Send(Bytes(ServiceRequest("version=1&class=quarantine&opcode=reset&count=0"))));
  EXPECT_EQ(client.Read(kOk.size()), kOk);
  EXPECT_TRUE(gateway.Rules().empty());

  EXPECT_EQ(gateway.Stats().applied, 7u);
  EXPECT_EQ(gateway.Stats().rejected, 3u);
}

TEST(GatewaySimulatorTest, WrongCredentialsAreRefused) {
  GatewaySimulator gateway("127.0.0.1", 0, "operator", "s:cret");
  ConsoleClient client(gateway.Port());
  ASSERT_TRUE(client.Send(Bytes(kAddPc)));
  const std::string unauthorized =
      "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain\r\nWWW-Authenticate: Basic realm=\"qacl\"\r\n"
      "Content-Length: 12\r\n\r\nunauthorized";
  EXPECT_EQ(client.Read(unauthorized.size(), 10s), unauthorized);
  EXPECT_TRUE(gateway.Rules().empty());
  ASSERT_TRUE(client.Send(Bytes(ServiceRequest(kAddPc.body, "b3BlcmF0b3I6czpjcmV0"))));  // operator:s:cret
  EXPECT_EQ(client.Read(kOk.size()), kOk);
  EXPECT_EQ(gateway.Rules().size(), 1u);
}

TEST(GatewaySimulatorTest, ListensOutsideLoopbackOnlyInAPrivateNamespace) {
  const char* netns = std::getenv("VELNOR_PRIVATE_NETNS");
  const std::string saved = netns ? netns : "";
  ::unsetenv("VELNOR_PRIVATE_NETNS");
  EXPECT_THROW(GatewaySimulator("10.1.2.3", 0), std::runtime_error);
  EXPECT_THROW(GatewaySimulator("0.0.0.0", 0), std::runtime_error);
  EXPECT_NO_THROW(GatewaySimulator("127.0.0.2", 0));
  if (netns) ::setenv("VELNOR_PRIVATE_NETNS", saved.c_str(), 1);
}

// A hung gateway's answer: the header of a chunked answer, then one blank line at each step,
// never a chunk; a stop ends it at once, in the middle of a long step.
TEST(GatewaySimulatorTest, ATrickledAnswerSendsABlankLineAtEachStepUntilStopped) {
  GatewaySimulator gateway("127.0.0.1", 0);
  gateway.SetBehaviour({.fault = Fault::kTrickle, .trickleEvery = 10ms});
  ConsoleClient quick(gateway.Port());
  ASSERT_TRUE(quick.Send(Bytes(kAddPc)));
  EXPECT_EQ(quick.Read(kUnendingHeader.size() + 10, 10s), kUnendingHeader + "\r\n\r\n\r\n\r\n\r\n");

  gateway.SetBehaviour({.fault = Fault::kTrickle, .trickleEvery = 1h});
  ConsoleClient slow(gateway.Port());
  ASSERT_TRUE(slow.Send(Bytes(kAddPc)));
  EXPECT_EQ(slow.Read(kUnendingHeader.size() + 2, 10s), kUnendingHeader + "\r\n");
  EXPECT_EQ(slow.Read(1, 100ms), "");  // the next line is an hour away

  gateway.Stop();
  EXPECT_TRUE(OnlyBlankLines(quick.ReadToClose(10s)));
  EXPECT_EQ(slow.ReadToClose(10s), "");
}

// A chunked answer that streams 4 KiB chunks and never the last one, until the peer closes.
TEST(GatewaySimulatorTest, AnEndlessAnswerStreamsChunksUntilThePeerCloses) {
  GatewaySimulator gateway("127.0.0.1", 0);
  gateway.SetBehaviour({.fault = Fault::kEndless});
  const std::size_t idle = Threads();
  const std::string chunk = "1000\r\n" + std::string(4096, 'x') + "\r\n";
  std::size_t streaming = 0;
  {
    ConsoleClient client(gateway.Port());
    ASSERT_TRUE(client.Send(Bytes(kAddPc)));
    EXPECT_EQ(client.Read(kUnendingHeader.size(), 10s), kUnendingHeader);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(client.Read(chunk.size(), 10s), chunk) << "chunk " << i;
    streaming = Threads();
    EXPECT_GT(streaming, idle);  // the connection's own thread
  }
  EXPECT_TRUE(Eventually([&] { return Threads() < streaming; }));
  EXPECT_EQ(gateway.Stats().requests, 1u);
}
// The rules and stats that the service's tests read through velnor-gw are theirs to check.
TEST(GatewaySimulatorTest, ControlCommandsSetOneGatewayOrAll) {
  GatewaySimulator first("127.0.0.1", 0);
  GatewaySimulator second("127.0.0.2", 0);
  const gwsim::ControlCommands commands({&first, &second});
  EXPECT_EQ(commands.Run("set 127.0.0.2:" + std::to_string(second.Port()) + " word invalid acl"), "ok\n.\n");
  EXPECT_EQ(commands.Run("set fault raw HTTP/1.1\\r\\n\\x00"), "ok\n.\n");
  EXPECT_EQ(first.GetBehaviour(), (gwsim::Behaviour{.fault = Fault::kRaw, .raw = std::string("HTTP/1.1\r\n\0", 11)}));
  EXPECT_EQ(second.GetBehaviour().word, "invalid acl");
  EXPECT_EQ(second.GetBehaviour().fault, Fault::kRaw);
  EXPECT_EQ(commands.Run("set 127.0.0.3:1 status 500"), "error: no gateway 127.0.0.3:1\n.\n");
  EXPECT_EQ(commands.Run("set status 20"), "error: usage: set [ADDR:PORT] status 100..999\n.\n");
}

}  // namespace
