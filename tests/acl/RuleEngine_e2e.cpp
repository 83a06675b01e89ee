// The real service with two simulated gateways on addresses of the test's own network
// namespace: what operators add and delete at the console must leave each gateway holding
// exactly the rules the registries imply, and a gateway that drops off and comes back must
// get the two resets and its whole rule set, and nothing that was meant for it meanwhile.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/RuleModel.h"
#include "tests/common/ServiceFixture.h"

namespace {

using gwsim::GatewaySimulator;
using namespace testing_support;
using namespace rule_model;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- the data: no two combinations make the same line on one gateway, since a gateway
// keeps its rules as a set and the delete of a shared line would take it from both ----

const std::string kGw1 = "10.20.0.1";  // with routes; the one that drops off
const std::string kGw2 = "10.20.0.2";  // without routes

const Route kLan1{kGw1, "eth1", "192.168.1.0", 24};
const Route kLan2{kGw1, "eth2", "192.168.2.0", 24};
const Route kLan3{kGw1, "eth3", "192.168.3.0", 24};

const Pc kPcLan1{"02:00:00:00:01:01", "192.168.1.11", ""};
const Pc kPcLan2{"02:00:00:00:02:02", "192.168.2.22", ""};
const Pc kNetLan2{"", "", "192.168.2.0", 24};
const Pc kMacOnly{"02:00:00:00:04:04", "", ""};  // behind every route, and behind no route
const Pc kPcLan3{"02:00:00:00:05:05", "192.168.3.33", ""};
const Pc kPcOutside{"02:00:00:00:06:06", "10.50.0.6", ""};  // behind no route of any gateway
const Pc kPcLan1Late{"02:00:00:00:07:07", "192.168.1.77", ""};

const Server kTcp{"172.17.0.10", "tcp", "4208"};
const Server kUdp{"172.17.0.11", "udp", "53"};
const Server kShortLived{"172.17.0.12", "tcp", "8080"};
const Server kLate{"172.17.0.13", "tcp", "443"};

const Entry kAcceptLan1{true, "192.168.1.11", ""};        // the PC's MAC goes into its rule
const Entry kDropInNet{false, "192.168.2.77", ""};        // through the network PC
const Entry kAcceptMac{true, "10.99.0.4", kMacOnly.mac};  // through the PC known by MAC alone
const Entry kAcceptLan3{true, "192.168.3.33", kPcLan3.mac};
const Entry kDropNobody{false, "192.168.1.200", ""};  // matches no PC
const Entry kAcceptLan1Late{true, "192.168.1.77", ""};

class RuleEngineTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    PrivateNetwork::AnswerEcho(true);
    PrivateNetwork::AddAddress(kGw1);
    PrivateNetwork::AddAddress(kGw2);
    gw1_ = std::make_unique<GatewaySimulator>(kGw1, 880);
    gw2_ = std::make_unique<GatewaySimulator>(kGw2, 880);
    ASSERT_EQ(Run({"-RegServer"}), 0);
    velnor_ = Start();
    console_ = ServiceFixture::Console();
  }

  // The operators' commands, each kept in the model as the console takes it.
  void Console(const std::string& line) { EXPECT_EQ(console_->Command(line), "") << line; }
  void AddGateway(const std::string& address) {
    Console("gw add " + address);
    model_.gateways.push_back(address);
  }
  void DeleteGateway(const std::string& address) {
    Console("gw del " + address);
    std::erase(model_.gateways, address);
    std::erase_if(model_.routes, [&](const Route& route) { return route.gateway == address; });
  }
  template <class Record>
  void Add(const Record& record) {
    Console(Command(record, true));
    model_.Put(record);
  }
  template <class Record>
  void Delete(const Record& record) {
    Console(Command(record, false));
    model_.Erase(record);
  }

  // Polls done, taking in the log lines meanwhile, until it holds or the time-out passes.
  bool Within(std::chrono::seconds timeout, const std::function<bool()>& done) {
    for (const auto deadline = Clock::now() + timeout;;) {
      while (const auto datagram = collector_->Next(0ms)) log_.push_back(LogText(*datagram));
      if (done()) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
  }
  ::testing::AssertionResult Logs(const std::string& line, std::chrono::seconds timeout) {
    if (Within(timeout, [&] { return std::find(log_.begin(), log_.end(), line) != log_.end(); })) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "no log line \"" << line << "\" in " << timeout.count() << " s";
  }

  // The gateway comes to hold exactly the rules the registries imply.
  ::testing::AssertionResult Holds(const GatewaySimulator& gateway, std::chrono::seconds timeout = 60s) {
    const std::vector<std::string> implied = RuleSet(model_, gateway.Address());
    if (Within(timeout, [&] { return gateway.Rules() == implied; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << gateway.Address() << " holds\n"
                                         << Lines(gateway.Rules()) << "where the registries imply\n"
                                         << Lines(implied);
  }

  // From request number from on, the gateway gets exactly these orders: the first ones
  // in this order, the rest in any order.
  ::testing::AssertionResult Gets(const GatewaySimulator& gateway, std::size_t from, std::vector<std::string> first,
                                  const std::string& verb, const std::vector<std::string>& rules,
                                  std::chrono::seconds timeout) {
    std::vector<std::string> expected = first;
    for (const std::string& rule : rules) expected.push_back(verb + " access-list " + rule);
    std::vector<std::string> got;
    const bool arrived = Within(timeout, [&] {
      got.clear();
      const std::vector<gwsim::ReceivedRequest> requests = gateway.Requests();
      for (std::size_t i = from; i < requests.size(); ++i) got.push_back(Order(requests[i].body));
      return got.size() >= expected.size();
    });
    const auto rest = static_cast<std::ptrdiff_t>(std::min(first.size(), got.size()));
    std::sort(got.begin() + rest, got.end());
    std::sort(expected.begin() + static_cast<std::ptrdiff_t>(first.size()), expected.end());
    if (arrived && got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << gateway.Address() << " got\n"
                                         << Lines(got) << "where it should get\n"
                                         << Lines(expected);
  }
  // The two resets and the whole rule set, after its repeats.
  ::testing::AssertionResult GetsWholeSet(const GatewaySimulator& gateway, std::size_t from,
                                          std::chrono::seconds timeout) {
    return Gets(gateway, from, {"reset client", "reset quarantine"}, "add", ResetRules(model_, gateway.Address()),
                timeout);
  }

  std::unique_ptr<GatewaySimulator> gw1_;
  std::unique_ptr<GatewaySimulator> gw2_;
  std::unique_ptr<VelnorProcess> velnor_;
  std::unique_ptr<ConsoleClient> console_;
  Registries model_;
  std::vector<std::string> log_;
};

TEST_F(RuleEngineTest, GatewaysFollowTheRegistriesAndOneThatComesBackGetsItsWholeSet) {
  // Each gateway turns ON at its first probe and gets its (empty) state: the two resets.
  AddGateway(kGw1);
  AddGateway(kGw2);
  ASSERT_TRUE(GetsWholeSet(*gw1_, 0, 30s));
  ASSERT_TRUE(GetsWholeSet(*gw2_, 0, 30s));

  // Changes while both are ON reach them one by one.
  Add(kLan1);
  Add(kLan2);
  Add(kTcp);
  Add(kUdp);
  Add(kShortLived);
  for (const Pc& pc : {kPcLan1, kPcLan2, kNetLan2, kMacOnly, kPcOutside}) Add(pc);
  Add(kLan3);
  Add(kPcLan3);
  Delete(kShortLived);  // before any NAC entry: its delete must not take their rules
  for (const Entry& entry : {kAcceptLan1, kDropInNet, kAcceptMac, kAcceptLan3, kDropNobody}) Add(entry);
  ASSERT_TRUE(Holds(*gw1_));
  ASSERT_TRUE(Holds(*gw2_));

  Delete(kDropNobody);
  Delete(kPcLan2);
  Delete(kLan3);
  Delete(kDropInNet);
  ASSERT_TRUE(Holds(*gw1_));
  ASSERT_TRUE(Holds(*gw2_));

  // The first gateway drops off. A change made before the service notices is queued for it
  // and fails to connect; the OFF verdict must drop it from the sender's queue.
  PrivateNetwork::RemoveAddress(kGw1);
  Delete(kAcceptLan1);
  ASSERT_TRUE(Logs("Connection error to GW(" + kGw1 + ":880).", 30s));
  ASSERT_TRUE(Logs("GW(" + kGw1 + ") was diagnosed as OFF by a keep alive function.", 90s));
  ASSERT_TRUE(Logs("I erased an HTTP transmission of a message queue to GW(" + kGw1 + ":880).", 10s));

  // Meanwhile the second is deleted, which withdraws every rule it holds, and added again,
  // which sends it everything anew at its first probe. It has had nothing for half a minute,
  // so the count marks where the withdrawal starts. Its requests may go to the sender freed
  // by the OFF verdict, which first sleeps out its retry pause (up to 30 s).
  std::size_t mark = gw2_->Requests().size();
  const std::vector<std::string> held = ResetRules(model_, kGw2);
  DeleteGateway(kGw2);
  ASSERT_TRUE(Gets(*gw2_, mark, {}, "delete", held, 60s));
  ASSERT_TRUE(Holds(*gw2_));  // nothing
  mark += held.size();
  AddGateway(kGw2);
  ASSERT_TRUE(GetsWholeSet(*gw2_, mark, 60s));
  ASSERT_TRUE(Holds(*gw2_));

  // Changes while the first is OFF go only to the second; the late server shows on the
  // second once the service has taken every one of them.
  Delete(kPcLan1);
  Add(kPcLan1Late);
  Add(kAcceptLan1Late);
  Add(kLate);
  ASSERT_TRUE(Holds(*gw2_));

  // Back: the two resets and its whole rule set, changes included, and nothing else: not
  // the delete that was queued before it went OFF, nor anything made while it was OFF.
  // Nothing can have reached it since its address went.
  mark = gw1_->Requests().size();
  PrivateNetwork::AddAddress(kGw1);
  ASSERT_TRUE(GetsWholeSet(*gw1_, mark, 90s));
  EXPECT_TRUE(Holds(*gw1_));
  EXPECT_TRUE(Holds(*gw2_));

  // What the console tells of them: each preview is the model's reset, and what each
  // gateway acknowledged is what it should hold.
  for (const std::string& gateway : {kGw1, kGw2}) {
    std::vector<std::string> shown;
    std::istringstream lines(console_->Command("acl show " + gateway).value_or(""));
    for (std::string body; std::getline(lines, body);) {
      if (!body.empty() && body.back() == '\r') body.pop_back();
      shown.push_back(Order(body));
    }
    EXPECT_EQ(ResetOrders(shown), ExpectedResetOrders(model_, gateway)) << gateway;
  }
  // A gateway holds its last rule before its answer is back and the request leaves the queue.
  std::string status;
  Within(30s, [&] {
    status = console_->Command("acl status").value_or("");
    return status.find(kGw1 + ":880 ON queued 0 ") != std::string::npos &&
           status.find(kGw2 + ":880 ON queued 0 ") != std::string::npos;
  });
  for (const std::string& gateway : {kGw1, kGw2}) {
    const std::size_t at = status.find(gateway + ":880 ON queued 0 ");
    ASSERT_NE(at, std::string::npos) << status;
    EXPECT_EQ(status.substr(status.find('\r', at) - 7, 7), "in sync") << status;
  }

  Stop(velnor_);
  for (const GatewaySimulator* gateway : {gw1_.get(), gw2_.get()}) {
    const gwsim::Statistics stats = gateway->Stats();
    EXPECT_EQ(stats.rejected + stats.errors, 0u) << gateway->Address() << " did not take every request";
  }
}

}  // namespace
