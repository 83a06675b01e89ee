// The gateway simulator over loopback, driven by a raw client that sends the service's
// requests byte for byte and reads the answers as the service does.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "gwsim/ControlCommands.h"
#include "gwsim/GatewaySimulator.h"
#include "platform/UniqueFd.h"

namespace {

using gwsim::Behaviour;
using gwsim::Fault;
using gwsim::GatewaySimulator;
using gwsim::ReceivedRequest;

constexpr char kAdmin[] = "YWRtaW46dG92aW4=";  // admin:tovin
constexpr char kPcRule[] =
    "accept protocol tcp source 172.17.254.254 destination 192.168.0.0/24 sport 4208";
constexpr char kNacRule[] = "accept in eth0 source 192.168.0.1 source-mac 00:00:00:00:00:00";

// The service's request for body, as its header template lays it out.
ReceivedRequest ServiceRequest(const std::string& body, const std::string& credentials = kAdmin) {
  return {"POST /quarantine/qacl.cgi HTTP/1.1\r\nAccept: */*\r\nAccept-Language: en-us\r\n"
          "Authorization: Basic " + credentials + "\r\nUser-Agent: Velnor/1.0\r\nHost: 127.0.0.1\r\n"
          "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\nCache-Control: no-cache\r\nKeepAlive: timeout=5\r\nConnection: Keep-Alive\r\n\r\n",
          body};
}

std::string SetBody(const std::string& className, const std::string& line) {
  return "version=1&class=" + className + "&opcode=set&count=1&acl=" + line;
}

std::string ResetBody(const std::string& className) {
  return "version=1&class=" + className + "&opcode=reset&count=0";
}

struct Answer {
  int status = 0;
  std::string body;  // decoded from Content-Length or chunks
  std::string raw;   // the bytes as they came
};

// One TCP connection to the simulator; every read gives up after two seconds.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port, const std::string& address = "127.0.0.1")
      : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in to{AF_INET, htons(port), {}, {}};
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    if (::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) fd_.Reset();
  }

  bool Send(const std::string& bytes) {
    return fd_ && ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  bool Send(const ReceivedRequest& request) { return Send(request.header + request.body); }

  std::optional<Answer> Exchange(const ReceivedRequest& request) {
    if (!Send(request)) return std::nullopt;
    return ReadAnswer();
  }

  std::optional<Answer> ReadAnswer() {
    Answer answer;
    const auto header = Take("\r\n\r\n");
    if (!header) return std::nullopt;
    answer.raw = *header;
    answer.status = std::atoi(header->c_str() + header->find(' ') + 1);
    if (const std::size_t at = header->find("Content-Length: "); at != std::string::npos) {
      const auto body = TakeBytes(std::stoul(header->substr(at + 16)));
      if (!body) return std::nullopt;
      answer.body = *body;
      answer.raw += *body;
    } else {
      for (;;) {
        const auto sizeLine = Take("\r\n");
        if (!sizeLine) return std::nullopt;
        const std::size_t size = std::stoul(*sizeLine, nullptr, 16);
        const auto data = TakeBytes(size + 2);
        if (!data) return std::nullopt;
        answer.raw += *sizeLine + *data;
        if (size == 0) break;
        answer.body += data->substr(0, size);
      }
    }
    return answer;
  }

  // Everything until the simulator closes; none when it stays open.
  std::optional<std::string> ReadToClose() {
    while (Fill()) {
    }
    if (!closed_) return std::nullopt;
    return std::exchange(pending_, {});
  }

  // Everything that arrives until the connection has been quiet for a while.
  std::string ReadQuiet() {
    while (Fill(200)) {
    }
    return std::exchange(pending_, {});
  }
  bool Closed() const { return closed_; }

 private:
  std::optional<std::string> Take(const std::string& terminator) {
    std::size_t at;
    while ((at = pending_.find(terminator)) == std::string::npos)
      if (!Fill()) return std::nullopt;
    return TakeBytes(at + terminator.size());
  }
  std::optional<std::string> TakeBytes(std::size_t count) {
    while (pending_.size() < count)
      if (!Fill()) return std::nullopt;
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, count);
    return bytes;
  }
  bool Fill(int timeoutMs = 2000) {
    pollfd readable{fd_.Get(), POLLIN, 0};
    if (closed_ || ::poll(&readable, 1, timeoutMs) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  platform::UniqueFd fd_;
  std::string pending_;
  bool closed_ = false;
};

TEST(GatewaySimulatorTest, KeepsTheRulesOfAddDeleteAndResetOverOneConnection) {
  GatewaySimulator gateway("127.0.0.1", 0);
  RawClient client(gateway.Port());
  const std::vector<ReceivedRequest> sent = {
      ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule)),
      ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule)),  // a set: kept once
      ServiceRequest(SetBody("client", "add access-list pc drop source 192.168.0.7")),
      ServiceRequest(SetBody("quarantine", std::string("add access-list nac ") + kNacRule)),
      ServiceRequest(SetBody("client", "delete access-list pc drop source 192.168.0.7")),
  };
  for (const ReceivedRequest& request : sent) {
    const auto answer = client.Exchange(request);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->raw, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
  }
  EXPECT_EQ(gateway.Rules(), (std::vector<std::string>{std::string("nac ") + kNacRule, std::string("pc ") + kPcRule}));

  // Orders it cannot take are answered all the same and change nothing: a list its class
  // does not own, a count that does not fit, an unknown verb.
  for (const std::string& body : {SetBody("client", std::string("add access-list nac ") + kNacRule),
                                  std::string("version=1&class=client&opcode=reset&count=1"),
                                  SetBody("client", std::string("insert access-list pc ") + kPcRule)}) {
    const auto answer = client.Exchange(ServiceRequest(body));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "ok");
  }
  EXPECT_EQ(gateway.Rules().size(), 2u);

  ASSERT_TRUE(client.Exchange(ServiceRequest(ResetBody("client"))));
  EXPECT_EQ(gateway.Rules(), std::vector<std::string>{std::string("nac ") + kNacRule});
  ASSERT_TRUE(client.Exchange(ServiceRequest(ResetBody("quarantine"))));
  EXPECT_TRUE(gateway.Rules().empty());

  const auto received = gateway.Requests();
  ASSERT_EQ(received.size(), 10u);
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), received.begin()));
  const auto stats = gateway.Stats();
  EXPECT_EQ(stats.connections, 1u);
  EXPECT_EQ(stats.applied, 7u);
  EXPECT_EQ(stats.rejected, 3u);
}

TEST(GatewaySimulatorTest, AnswersWithTheConfiguredWordStatusAndFraming) {
  GatewaySimulator gateway("127.0.0.1", 0);
  RawClient client(gateway.Port());
  const ReceivedRequest add = ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule));

  Behaviour behaviour;
  behaviour.chunked = true;
  gateway.SetBehaviour(behaviour);
  auto answer = client.Exchange(add);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->raw, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
                         "2\r\nok\r\n0\r\n\r\n");

  behaviour.word = "invalid acl";
  gateway.SetBehaviour(behaviour);
  answer = client.Exchange(add);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "invalid acl");

  behaviour = Behaviour{};
  behaviour.status = 500;
  gateway.SetBehaviour(behaviour);
  answer = client.Exchange(add);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 500);
  EXPECT_EQ(answer->body, "ok");
  EXPECT_EQ(gateway.Connections(), 1u);
}

TEST(GatewaySimulatorTest, FaultsReplaceTheAnswer) {
  GatewaySimulator gateway("127.0.0.1", 0);
  const ReceivedRequest add = ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule));
  const std::string rawAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n";
  Behaviour behaviour;

  behaviour.fault = Fault::kRaw;
  behaviour.raw = rawAnswer;
  gateway.SetBehaviour(behaviour);
  RawClient raw(gateway.Port());
  ASSERT_TRUE(raw.Send(add));
  EXPECT_EQ(raw.ReadQuiet(), rawAnswer);
  EXPECT_FALSE(raw.Closed());

  behaviour.fault = Fault::kRefuse;
  gateway.SetBehaviour(behaviour);
  RawClient refused(gateway.Port());
  ASSERT_TRUE(refused.Send(add));
  EXPECT_EQ(refused.ReadToClose(), "");

  behaviour.fault = Fault::kCloseMidAnswer;
  gateway.SetBehaviour(behaviour);
  RawClient cut(gateway.Port());
  ASSERT_TRUE(cut.Send(add));
  EXPECT_EQ(cut.ReadToClose(), "HTTP/1.1 200 OK\r\nConten");

  behaviour.fault = Fault::kSilent;
  gateway.SetBehaviour(behaviour);
  RawClient silent(gateway.Port());
  ASSERT_TRUE(silent.Send(add));
  EXPECT_EQ(silent.ReadQuiet(), "");
  EXPECT_FALSE(silent.Closed());

  // Each request was read and applied, whatever became of its answer.
  EXPECT_EQ(gateway.Stats().applied, 4u);
  EXPECT_EQ(gateway.Rules().size(), 1u);
}

TEST(GatewaySimulatorTest, RefusesWrongCredentialsPathAndMethodWithoutChangingRules) {
  GatewaySimulator gateway("127.0.0.1", 0, "operator", "s:cret");
  RawClient client(gateway.Port());
  const std::string body = SetBody("client", std::string("add access-list pc ") + kPcRule);

  auto answer = client.Exchange(ServiceRequest(body, kAdmin));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 401);
  ReceivedRequest noCredentials = ServiceRequest(body);
  noCredentials.header.erase(noCredentials.header.find("Authorization"),
                             noCredentials.header.find("User-Agent") - noCredentials.header.find("Authorization"));
  answer = client.Exchange(noCredentials);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 401);

  const std::string good = "b3BlcmF0b3I6czpjcmV0";  // operator:s:cret
  ReceivedRequest otherPath = ServiceRequest(body, good);
  otherPath.header.replace(5, 20, "/quarantine/x.cgi");
  answer = client.Exchange(otherPath);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 404);
  ReceivedRequest put = ServiceRequest(body, good);
  put.header.replace(0, 4, "PUT");
  answer = client.Exchange(put);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 405);
  EXPECT_TRUE(gateway.Rules().empty());

  // The same connection still serves a good request.
  answer = client.Exchange(ServiceRequest(body, good));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(gateway.Rules().size(), 1u);
  EXPECT_EQ(gateway.Stats().errors, 4u);
}

TEST(GatewaySimulatorTest, MalformedRequestsAreClosedWith400WhileOthersAreServed) {
  GatewaySimulator gateway("127.0.0.1", 0);
  RawClient steady(gateway.Port());
  const ReceivedRequest add = ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule));
  ASSERT_TRUE(steady.Exchange(add));

  const ReceivedRequest good = ServiceRequest("version=1&class=client&opcode=reset&count=0");
  const std::string noLength = "POST /quarantine/qacl.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string badLength = "POST /quarantine/qacl.cgi HTTP/1.1\r\nContent-Length: 4x\r\n\r\n";
  const std::string hugeBody = "POST /quarantine/qacl.cgi HTTP/1.1\r\nContent-Length: 65537\r\n\r\n";
  const std::string badLine = "POST /quarantine/qacl.cgi\r\nContent-Length: 0\r\n\r\n";
  const std::string hugeHeader = "POST /quarantine/qacl.cgi HTTP/1.1\r\nX: " + std::string(17000, 'a');
  for (const std::string& malformed : {noLength, badLength, hugeBody, badLine, hugeHeader}) {
    RawClient client(gateway.Port());
    ASSERT_TRUE(client.Send(malformed));
    const auto answer = client.ReadToClose();
    ASSERT_TRUE(answer) << malformed.substr(0, 60);
    EXPECT_EQ(answer->substr(0, 25), "HTTP/1.1 400 Bad Request\r") << malformed.substr(0, 60);
  }
  // A request cut in two packets is one request.
  ASSERT_TRUE(steady.Send(good.header.substr(0, 30)));
  ASSERT_TRUE(steady.Send(good.header.substr(30) + good.body));
  const auto answer = steady.ReadAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "ok");
  EXPECT_EQ(gateway.Requests().size(), 2u);
  EXPECT_EQ(gateway.Stats().errors, 5u);
  EXPECT_TRUE(gateway.Rules().empty());
}

TEST(GatewaySimulatorTest, ListensOutsideLoopbackOnlyInAPrivateNamespace) {
  const char* netns = std::getenv("VELNOR_PRIVATE_NETNS");
  const std::string saved = netns ? netns : "";
  ::unsetenv("VELNOR_PRIVATE_NETNS");
  EXPECT_THROW(GatewaySimulator("10.1.2.3", 0), std::runtime_error);
  EXPECT_THROW(GatewaySimulator("0.0.0.0", 0), std::runtime_error);
  EXPECT_NO_THROW(GatewaySimulator("127.0.0.2", 0));
  if (netns) ::setenv("VELNOR_PRIVATE_NETNS", saved.c_str(), 1);

  GatewaySimulator taken("127.0.0.1", 0);
  EXPECT_THROW(GatewaySimulator("127.0.0.1", taken.Port()), std::runtime_error);
}

TEST(GatewaySimulatorTest, ControlCommandsSetOneGatewayAndListEveryRule) {
  GatewaySimulator first("127.0.0.1", 0);
  GatewaySimulator second("127.0.0.2", 0);
  const gwsim::ControlCommands commands({&first, &second});
  const std::string secondName = "127.0.0.2:" + std::to_string(second.Port());

  EXPECT_EQ(commands.Run("set " + secondName + " word invalid acl"), "ok\n.\n");
  EXPECT_EQ(commands.Run("set fault raw HTTP/1.1\\r\\n\\x00"), "ok\n.\n");
  EXPECT_EQ(first.GetBehaviour().word, "ok");
  EXPECT_EQ(second.GetBehaviour().word, "invalid acl");
  EXPECT_EQ(first.GetBehaviour().raw, std::string("HTTP/1.1\r\n\0", 11));
  EXPECT_EQ(commands.Run("set 127.0.0.3:1 status 500"), "error: no gateway 127.0.0.3:1\n.\n");
  EXPECT_EQ(commands.Run("set status 20"), "error: usage: set [ADDR:PORT] status 100..999\n.\n");

  for (GatewaySimulator* gateway : {&first, &second}) {
    gateway->SetBehaviour(Behaviour{});
    RawClient client(gateway->Port(), gateway->Address());
    ASSERT_TRUE(client.Exchange(ServiceRequest(SetBody("client", std::string("add access-list pc ") + kPcRule))));
  }
  const std::string firstName = "127.0.0.1:" + std::to_string(first.Port());
  EXPECT_EQ(commands.Run("rules"), firstName + " pc " + kPcRule + "\n" + secondName + " pc " + kPcRule + "\n.\n");
  EXPECT_EQ(commands.Run("stats " + secondName),
            secondName + " connections=1 requests=1 applied=1 rejected=0 errors=0 rules=1\n.\n");
}

}  // namespace
