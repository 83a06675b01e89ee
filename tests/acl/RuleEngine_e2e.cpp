// The real service with two simulated gateways on addresses of the test's own network
// namespace: what operators add and delete at the console must leave each gateway holding
// exactly the rules the registries imply, and a gateway that drops off and comes back must
// get the two resets and its whole rule set, and nothing that was meant for it meanwhile.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

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
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/common/VelnorProcess.h"

namespace {

using gwsim::GatewaySimulator;
using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- what the operators register, and the rules that implies for each gateway ----

std::uint32_t Value(const std::string& address) { return ntohl(::inet_addr(address.c_str())); }
std::uint32_t Mask(int prefix) { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }
std::string MaskText(int prefix) {
  const in_addr mask{htonl(Mask(prefix))};
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &mask, text, sizeof text);
}

struct Route {
  std::string gateway, device, network;
  int prefix;
  bool operator==(const Route&) const = default;
};
// A PC by MAC (with or without its address), or a network.
struct Pc {
  std::string mac, source, network;
  int prefix = 0;
  bool operator==(const Pc&) const = default;
};
struct Server {
  std::string address, protocol, port;
  bool operator==(const Server&) const = default;
};
struct Entry {
  bool accept;
  std::string source, mac;
  bool operator==(const Entry&) const = default;
};

struct Registries {
  std::vector<std::string> gateways;
  std::vector<Route> routes;
  std::vector<Pc> pcs;
  std::vector<Server> servers;
  std::vector<Entry> entries;
};

bool Inside(const std::string& address, const Route& route) {
  return ((Value(address) ^ Value(route.network)) & Mask(route.prefix)) == 0;
}

// One access-list line as a gateway lists it: the list name, the action, then each field
// that is given, in the gateway's fixed order.
struct Rule {
  std::string list, action, in, out, protocol, source, destination, sport, dport, mac;
};
std::string Text(const Rule& rule) {
  std::string text = rule.list + " " + rule.action;
  const std::pair<const char*, const std::string*> fields[] = {{"in", &rule.in},
                                                               {"out", &rule.out},
                                                               {"protocol", &rule.protocol},
                                                               {"source", &rule.source},
                                                               {"destination", &rule.destination},
                                                               {"sport", &rule.sport},
                                                               {"dport", &rule.dport},
                                                               {"source-mac", &rule.mac}};
  for (const auto& [word, value] : fields) {
    if (!value->empty()) text += std::string(" ") + word + " " + *value;
  }
  return text;
}

// The "pc" rules that let pc and server reach each other behind route (none: the gateway
// has no routes).
void ClientRules(const Route* route, const Pc& pc, const Server& server, std::vector<std::string>& rules) {
  const auto pair = [&](const std::string& device, const std::string& source) {
    rules.push_back(
        Text({"pc", "accept", device, "", server.protocol, source, server.address, "", server.port, pc.mac}));
    rules.push_back(Text({"pc", "accept", "", device, server.protocol, server.address, source, server.port, "", ""}));
  };
  const bool macOnly = pc.source.empty() && pc.network.empty();
  if (route == nullptr) {
    if (macOnly) pair("", "");
    return;
  }
  if (macOnly || (!pc.mac.empty() && !pc.source.empty() && Inside(pc.source, *route))) pair(route->device, pc.source);
  if (!pc.network.empty() && Inside(pc.network, *route)) {
    pair(route->device, pc.network + "/" + std::to_string(pc.prefix));
  }
}

// The two "nac" rules of entry for pc behind route, when the entry is about that PC there.
void NacRules(const Route* route, const Pc& pc, const Entry& entry, std::vector<std::string>& rules) {
  if (!entry.mac.empty() && !pc.mac.empty() && entry.mac != pc.mac) return;
  if (!pc.source.empty()) {
    if (entry.source != pc.source || route == nullptr || !Inside(pc.source, *route)) return;
  } else if (!pc.network.empty()) {
    if (route == nullptr || pc.prefix != route->prefix || !Inside(pc.network, *route) ||
        !Inside(entry.source, *route)) {
      return;
    }
  } else if (entry.mac.empty()) {
    return;
  }
  const std::string action = entry.accept ? "accept" : "drop";
  const std::string device = route != nullptr ? route->device : "";
  const std::string& mac = entry.mac.empty() ? pc.mac : entry.mac;
  rules.push_back(Text({"nac", action, device, "", "", entry.source, "", "", "", mac}));
  rules.push_back(Text({"nac", action, "", device, "", "", entry.source, "", "", ""}));
}

// What a reset of gateway sends after its two resets, repeats included, sorted: for each of
// its routes (or none), each PC and each server, the client rules and then the rules of every
// NAC entry; so the NAC rules come once per server.
std::vector<std::string> ResetRules(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> rules;
  if (std::find(registries.gateways.begin(), registries.gateways.end(), gateway) == registries.gateways.end()) {
    return rules;
  }
  std::vector<const Route*> routes;
  for (const Route& route : registries.routes) {
    if (route.gateway == gateway) routes.push_back(&route);
  }
  if (routes.empty()) routes.push_back(nullptr);
  for (const Route* route : routes) {
    for (const Pc& pc : registries.pcs) {
      for (const Server& server : registries.servers) {
        ClientRules(route, pc, server, rules);
        for (const Entry& entry : registries.entries) NacRules(route, pc, entry, rules);
      }
    }
  }
  std::sort(rules.begin(), rules.end());
  return rules;
}

// The rules the gateway should hold: a gateway keeps each rule once.
std::vector<std::string> RuleSet(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> rules = ResetRules(registries, gateway);
  rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
  return rules;
}

// A request as the order it carries: "reset client", or the access-list line.
std::string Order(const gwsim::ReceivedRequest& request) {
  const std::string& body = request.body;
  const std::size_t acl = body.find("&acl=");
  if (acl != std::string::npos) return body.substr(acl + 5);
  if (body == "version=1&class=client&opcode=reset&count=0") return "reset client";
  if (body == "version=1&class=quarantine&opcode=reset&count=0") return "reset quarantine";
  return body;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

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

class RuleEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    collector_ = UdpCollector::OnFreeAddress();
    PrivateNetwork::AnswerEcho(true);
    PrivateNetwork::AddAddress(kGw1);
    PrivateNetwork::AddAddress(kGw2);
    gw1_ = std::make_unique<GatewaySimulator>(kGw1, 880);
    gw2_ = std::make_unique<GatewaySimulator>(kGw2, 880);

    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
    ASSERT_EQ(::mkdir(units_.c_str(), 0755), 0);
    {
      VelnorProcess registration({"-RegServer"}, units_);
      ASSERT_EQ(registration.Wait(), 0) << registration.Err();
    }
    velnor_ = std::make_unique<VelnorProcess>(std::vector<std::string>{}, units_);
    ASSERT_TRUE(velnor_->WaitForOutput("Service started\n", 30s)) << velnor_->Err();
    console_ = std::make_unique<ConsoleClient>(8000);
    ASSERT_EQ(console_->ReadPrompt(), "$ ");
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
  static std::string Words(const Route& r) {
    return r.gateway + " network " + r.network + " netmask " + MaskText(r.prefix) + " dev " + r.device;
  }
  static std::string Words(const Pc& p) {
    std::string words = p.mac.empty() ? "" : " source-mac " + p.mac;
    if (!p.source.empty()) words += " source " + p.source;
    if (!p.network.empty()) words += " network " + p.network + " netmask " + MaskText(p.prefix);
    return words.substr(1);
  }
  static std::string Words(const Server& s) {
    return "source " + s.address + " protocol " + s.protocol + " sport " + s.port;
  }
  static std::string Words(const Entry& e) {
    return std::string(e.accept ? "accept" : "drop") + " source " + e.source +
           (e.mac.empty() ? "" : " source-mac " + e.mac);
  }
  void Add(const Route& r) {
    Console("gwroute add " + Words(r));
    model_.routes.push_back(r);
  }
  void Add(const Pc& p) {
    Console("pc add " + Words(p));
    model_.pcs.push_back(p);
  }
  void Add(const Server& s) {
    Console("quarantine add " + Words(s));
    model_.servers.push_back(s);
  }
  void Add(const Entry& e) {
    Console("nac add " + Words(e));
    model_.entries.push_back(e);
  }
  void Delete(const Route& r) {
    Console("gwroute del " + Words(r));
    std::erase(model_.routes, r);
  }
  void Delete(const Pc& p) {
    Console("pc del " + Words(p));
    std::erase(model_.pcs, p);
  }
  void Delete(const Server& s) {
    Console("quarantine del " + Words(s));
    std::erase(model_.servers, s);
  }
  void Delete(const Entry& e) {
    Console("nac del " + Words(e));
    std::erase(model_.entries, e);
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
      for (std::size_t i = from; i < requests.size(); ++i) got.push_back(Order(requests[i]));
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

  TempDir dir_;
  std::string units_ = dir_.File("units");
  std::unique_ptr<UdpCollector> collector_;
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
      std::string order = Order({"", body});
      if (order.starts_with("add access-list ")) order = order.substr(16);
      shown.push_back(order);
    }
    std::vector<std::string> expected = ResetRules(model_, gateway);
    expected.insert(expected.begin(), {"reset client", "reset quarantine"});
    std::sort(shown.begin() + std::min<std::size_t>(2, shown.size()), shown.end());
    EXPECT_EQ(shown, expected) << gateway;
  }
  const std::string status = console_->Command("acl status").value_or("");
  for (const std::string& gateway : {kGw1, kGw2}) {
    const std::size_t at = status.find(gateway + ":880 ON queued 0 ");
    ASSERT_NE(at, std::string::npos) << status;
    EXPECT_EQ(status.substr(status.find('\r', at) - 7, 7), "in sync") << status;
  }

  velnor_->Signal(SIGTERM);
  EXPECT_EQ(velnor_->Wait(30s), 0);
  const std::string errors = velnor_->Err();  // no failure line, and in a sanitizer build no report
  EXPECT_TRUE(errors.empty()) << errors.substr(0, 4000);
  for (const GatewaySimulator* gateway : {gw1_.get(), gw2_.get()}) {
    const gwsim::Statistics stats = gateway->Stats();
    EXPECT_EQ(stats.rejected + stats.errors, 0u) << gateway->Address() << " did not take every request";
  }
}

}  // namespace
