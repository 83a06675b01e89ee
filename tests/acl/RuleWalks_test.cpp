// The rules each change and each reset makes, line by line, and the same rules in the same
// order as the plain walks, which snapshot every level and try every record.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "acl/AclContext.h"
#include "acl/KeepAliveReset.h"
#include "acl/NacCommandProcess.h"
#include "keepalive/KeepAliveData.h"
#include "request/HttpDataList.h"
#include "tests/acl/PlainWalks.h"
#include "tests/command/CommandHarness.h"

namespace {

// Every rule and log line a walk makes, as text, in order.
class RecordingEmitter final : public AclEmitter {
 public:
  bool ClientRule(const CGwData& gateway, CAclData& acl) override { return Record("pc", gateway, acl); }
  bool NacRule(const CGwData& gateway, CAclData& acl) override { return Record("nac", gateway, acl); }
  bool Reset(const CGwData& gateway, std::int32_t requestClass) override {
    made.push_back(gateway.addressText + " reset " + (requestClass == CHttpDataList::kClient ? "client" : "quarantine"));
    return true;
  }
  void NacMade(std::int32_t opcode, const CNacData& entry, const std::string& mac, const CGwData& gateway) override {
    made.push_back("log: " + std::string(opcode == 3 ? "delete" : "add") + " " + entry.sourceText + " " +
                   (mac.empty() ? "" : "(" + mac + ")") + " to " + gateway.addressText);
  }
  bool Wake() override { return true; }

  std::vector<std::string> made;

 private:
  bool Record(const char* list, const CGwData& gateway, CAclData& acl) {
    EXPECT_EQ(acl.name, list);
    if (acl.MakeAcl() != 0) return false;
    made.push_back(gateway.addressText + " " + acl.text);
    return true;
  }
};

class RuleWalksTest : public CommandTest {
 protected:
  void Run(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) ASSERT_GT(RunCommandLine(line).result, 0) << line;
  }
  // Gateways are OFF until a probe answers; here the test says which are ON.
  static void SetOn(const std::string& address, bool on) {
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard guard(gateways);
    for (CNacNode* node = gateways.GetHead(true); node != nullptr; node = gateways.GetNext(node, true)) {
      CGwData& gateway = *node->RecordAs<CGwData>();
      if (gateway.addressText == address) gateway.on = on ? 1 : 0;
    }
  }
  // The rules of one command's walk: 1 nac, 2 gw, 3 gwroute, 4 pc, 5 quarantine.
  std::vector<std::string> Walk(std::uint32_t commandId) {
    using Walker = void (*)(const AclContext&, AclEmitter&);
    const Walker walks[] = {NacCommandNacChange, NacCommandGwChange, NacCommandGwrouteChange, NacCommandPcChange,
                            NacCommandQuarantineChange};
    RecordingEmitter emitter;
    walks[commandId - 1](context_, emitter);
    return emitter.made;
  }
  // Clears what the loads and adds flagged, as the start does.
  static void Settle() {
    GetGwDataList().SetAllAdded(0);
    GetPcDataList().SetAllAdded(0);
    GetQuarantineDataList().SetAllAdded(0);
    GetNacDataList().SetAllAdded(0);
    CNacList::Guard guard(GetGwDataList());
    for (CNacNode* node = GetGwDataList().GetHead(true); node; node = GetGwDataList().GetNext(node, true)) {
      node->RecordAs<CGwData>()->Routes().SetAllAdded(0);
    }
  }

  // Every record of every registry with its flags.
  static std::string State() {
    using testing_support::Dump;
    std::string text = Dump<CPcData>(GetPcDataList(), [](const CPcData& p) {
      return p.macText + "/" + p.sourceText + "/" + p.networkText;
    });
    text += Dump<CQuarantineData>(GetQuarantineDataList(), [](const CQuarantineData& q) {
      return q.sourceText + "/" + q.protocol + "/" + q.portText;
    });
    text += Dump<CNacData>(GetNacDataList(), [](const CNacData& n) { return n.sourceText + "/" + n.macText; });
    text += Dump<CGwData>(GetGwDataList(), [](const CGwData& g) {
      return g.addressText + "[" + Dump<CGwrouteData>(const_cast<CGwData&>(g).Routes(), [](const CGwrouteData& r) {
               return r.device + "/" + r.networkText + "/" + r.netmaskText;
             }) + "]";
    });
    return text;
  }

  std::atomic<int> endFlag_{0};
  AclContext context_{endFlag_, nullptr};
};

TEST_F(RuleWalksTest, ClientLinesWithAndWithoutRoutes) {
  Run({"gw add 172.16.0.1", "gw add 172.16.0.2", "gwroute add 172.16.0.1 network 192.168.0.0 dev eth0",
       "quarantine add source 172.17.254.254 protocol tcp sport 4208"});
  SetOn("172.16.0.1", true);
  SetOn("172.16.0.2", true);
  Settle();
  Run({"pc add source-mac 00:00:00:00:00:00 source 192.168.0.1", "pc add source-mac 00:11:22:33:44:55",
       "pc add network 192.168.0.0 netmask 255.255.255.0", "pc add source-mac 00:11:22:33:44:66 source 10.0.0.1"});
  EXPECT_EQ(Walk(4), (std::vector<std::string>{
                         // a PC inside the route: 1a and 1b; behind a gateway without routes, nothing
                         "172.16.0.1 add access-list pc accept in eth0 protocol tcp source 192.168.0.1 destination "
                         "172.17.254.254 dport 4208 source-mac 00:00:00:00:00:00",
                         "172.16.0.1 add access-list pc accept out eth0 protocol tcp source 172.17.254.254 "
                         "destination 192.168.0.1 sport 4208",
                         // a PC known by its MAC alone: 1a and 1b behind the route, 3a and 3b without one
                         "172.16.0.1 add access-list pc accept in eth0 protocol tcp destination 172.17.254.254 dport "
                         "4208 source-mac 00:11:22:33:44:55",
                         "172.16.0.1 add access-list pc accept out eth0 protocol tcp source 172.17.254.254 sport 4208",
                         "172.16.0.2 add access-list pc accept protocol tcp destination 172.17.254.254 dport 4208 "
                         "source-mac 00:11:22:33:44:55",
                         "172.16.0.2 add access-list pc accept protocol tcp source 172.17.254.254 sport 4208",
                         // a network: 2a and 2b with NET; the PC outside every route gets nothing
                         "172.16.0.1 add access-list pc accept in eth0 protocol tcp source 192.168.0.0/24 destination "
                         "172.17.254.254 dport 4208",
                         "172.16.0.1 add access-list pc accept out eth0 protocol tcp source 172.17.254.254 "
                         "destination 192.168.0.0/24 sport 4208"}));
  EXPECT_EQ(Walk(4), std::vector<std::string>{});  // the added flags were cleared

  SetOn("172.16.0.2", false);  // an OFF gateway is passed over
  Run({"quarantine del source 172.17.254.254 protocol tcp sport 4208"});
  const std::vector<std::string> deleted = Walk(5);
  ASSERT_EQ(deleted.size(), 6u);
  EXPECT_EQ(deleted[0].substr(0, 40), "172.16.0.1 delete access-list pc accept ");
  EXPECT_TRUE(GetQuarantineDataList().IsEmpty(false)) << "the deleted server is erased";
}

TEST_F(RuleWalksTest, NacRulesCarryTheEntrysOrThePcsMac) {
  Run({"gw add 172.16.0.1", "gwroute add 172.16.0.1 network 192.168.0.0 dev eth0",
       "quarantine add source 172.17.254.254 protocol tcp sport 4208",
       "pc add source-mac 00:11:22:33:44:55 source 192.168.0.1", "pc add source-mac 00:aa:bb:cc:dd:ee"});
  SetOn("172.16.0.1", true);
  Settle();
  Run({"nac add accept source 192.168.0.1", "nac add drop source 192.168.0.9 source-mac 00:aa:bb:cc:dd:ee"});
  EXPECT_EQ(Walk(1), (std::vector<std::string>{
                         "172.16.0.1 add access-list nac accept in eth0 source 192.168.0.1 source-mac 00:11:22:33:44:55",
                         "172.16.0.1 add access-list nac accept out eth0 destination 192.168.0.1",
                         "log: add 192.168.0.1 (00:11:22:33:44:55) to 172.16.0.1",
                         "172.16.0.1 add access-list nac drop in eth0 source 192.168.0.9 source-mac 00:AA:BB:CC:DD:EE",
                         "172.16.0.1 add access-list nac drop out eth0 destination 192.168.0.9",
                         "log: add 192.168.0.9 (00:AA:BB:CC:DD:EE) to 172.16.0.1"}));
  Run({"nac del accept source 192.168.0.1"});
  EXPECT_EQ(Walk(1).at(2), "log: delete 192.168.0.1 (00:11:22:33:44:55) to 172.16.0.1");
  EXPECT_EQ(GetNacDataList().GetCount(false), 1) << "the deleted entry is erased";
}

TEST_F(RuleWalksTest, AnOffGatewayKeepsItsFlagsAndItsResetSendsEverything) {
  Run({"gw add 172.16.0.1", "quarantine add source 172.17.254.254 protocol udp sport 53",
       "pc add source-mac 00:11:22:33:44:55", "nac add accept source 10.9.9.9 source-mac 00:11:22:33:44:55"});
  EXPECT_EQ(Walk(2), std::vector<std::string>{});
  EXPECT_EQ(GetGwDataList().GetHead(false)->RecordAs<CGwData>()->added, 1);

  SetOn("172.16.0.1", true);
  RecordingEmitter emitter;
  const std::uint32_t address = GetGwDataList().GetHead(false)->RecordAs<CGwData>()->address;
  KeepAliveResetSearch(context_, address, emitter);
  EXPECT_EQ(emitter.made, (std::vector<std::string>{
                              "172.16.0.1 reset client", "172.16.0.1 reset quarantine",
                              "172.16.0.1 add access-list pc accept protocol udp destination 172.17.254.254 dport 53 "
                              "source-mac 00:11:22:33:44:55",
                              "172.16.0.1 add access-list pc accept protocol udp source 172.17.254.254 sport 53",
                              "172.16.0.1 add access-list nac accept source 10.9.9.9 source-mac 00:11:22:33:44:55",
                              "172.16.0.1 add access-list nac accept destination 10.9.9.9",
                              "log: add 10.9.9.9 (00:11:22:33:44:55) to 172.16.0.1"}));
  const CGwData& gateway = *GetGwDataList().GetHead(false)->RecordAs<CGwData>();
  EXPECT_EQ(gateway.resetPending + gateway.added, 0);
  RecordingEmitter again;
  KeepAliveResetSearch(context_, address, again);
  EXPECT_EQ(again.made, std::vector<std::string>{}) << "no reset pending, nothing queued";
}

TEST_F(RuleWalksTest, AnOffReportBeforeTheStartThreadRanDropsTheReset) {
  CNacList starts;
  CNacList stops;
  starts.AddTail(new CKeepAliveData(0x0100007F), false);
  starts.AddTail(new CKeepAliveData(0x0200007F), false);
  stops.AddTail(new CKeepAliveData(0x0100007F), false);
  auto* waiting = new CHttpData();
  waiting->address = 0x0100007F;
  GetPendingHttpDataList().AddTail(waiting, false);
  starts.AddTail(new CKeepAliveData(0x0100007F), false);  // back ON after the OFF report
  KeepAliveStopProcess(context_, stops, starts);
  ASSERT_EQ(starts.GetCount(false), 2);
  EXPECT_EQ(starts.GetHead(false)->RecordAs<CKeepAliveData>()->Address(), 0x0200007Fu);
  EXPECT_TRUE(GetPendingHttpDataList().IsEmpty(false) && stops.IsEmpty(false));
}

// OFF and then ON reported before either thread ran: the start thread drops first what
// waited from before, so the reset that follows reaches the gateway whole.
TEST_F(RuleWalksTest, AnOnReportAfterAnOffIsResetAfterTheDrop) {
  Run({"gw add 172.16.0.1", "quarantine add source 172.17.254.254 protocol udp sport 53",
       "pc add source-mac 00:11:22:33:44:55"});
  SetOn("172.16.0.1", true);
  const std::uint32_t address = GetGwDataList().GetHead(false)->RecordAs<CGwData>()->address;
  auto* stale = new CHttpData();
  stale->address = address;
  stale->body = "stale";
  GetPendingHttpDataList().AddTail(stale, false);
  CNacList stops;
  CNacList starts;
  stops.AddTail(new CKeepAliveData(address), false);
  starts.AddTail(new CKeepAliveData(address), false);
  KeepAliveStartProcess(context_, starts, stops);
  EXPECT_TRUE(starts.IsEmpty(false) && stops.IsEmpty(false));
  std::vector<std::string> bodies;
  for (CNacNode* node = GetPendingHttpDataList().GetHead(false); node != nullptr;
       node = GetPendingHttpDataList().GetNext(node, false)) {
    bodies.push_back(node->RecordAs<CHttpData>()->body);
  }
  ASSERT_EQ(bodies.size(), 4u);
  EXPECT_EQ(bodies[0], "version=1&class=client&opcode=reset&count=0");
  EXPECT_EQ(bodies[1], "version=1&class=quarantine&opcode=reset&count=0");
  GetPendingHttpDataList().RemoveAll(false);
}

// Random registries: every walk makes the same rules, in the same order, as the plain walk,
// and leaves the registries the same.
TEST_F(RuleWalksTest, EveryWalkMakesWhatThePlainWalkMakes) {
  std::mt19937 random(20261206);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto mac = [&] { return "00:00:00:00:00:0" + std::to_string(pick(4)); };
  const auto host = [&] { return "10." + std::to_string(pick(2)) + "." + std::to_string(pick(3)) + "." + std::to_string(pick(3)); };
  const auto pcLine = [&](const char* verb) {
    const std::string net = " network 10." + std::to_string(pick(2));
    const std::string forms[] = {" source-mac " + mac() + " source " + host(), " source-mac " + mac(),
                                 net + "." + std::to_string(pick(3)) + ".0 netmask 255.255.255.0",
                                 " source-mac " + mac() + net + ".0.0 netmask 255.255.0.0"};
    return std::string("pc ") + verb + forms[pick(4)];
  };
  const auto nacLine = [&](const char* verb) {
    return std::string("nac ") + verb + (pick(2) ? " accept" : " drop") + " source " + host() +
           (pick(2) ? " source-mac " + mac() : "");
  };
  const auto routeLine = [&](const char* verb) {
    return std::string("gwroute ") + verb + " 127.0.0." + std::to_string(2 + pick(3)) + " network 10." +
           std::to_string(pick(2)) + (pick(2) ? ".0.0 netmask 255.255.0.0" : "." + std::to_string(pick(3)) + ".0") +
           (pick(2) ? " dev eth" + std::to_string(pick(2)) : "");
  };
  const auto serverLine = [&](const char* verb) {
    return std::string("quarantine ") + verb + " source 172.17.0." + std::to_string(pick(3)) + " protocol " +
           (pick(2) ? "tcp" : "udp") + " sport " + std::to_string(53 + pick(2));
  };
  using Plain = void (*)(AclEmitter&);
  const Plain plain[] = {plain_walks::NacChange, plain_walks::GwChange, plain_walks::GwrouteChange,
                         plain_walks::PcChange, plain_walks::QuarantineChange};

  std::size_t compared = 0;
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> lines;
    for (int g = 2; g <= 4; ++g) lines.push_back("gw add 127.0.0." + std::to_string(g));
    for (int i = 0; i < 6; ++i) lines.push_back(routeLine("add"));
    for (int i = 0; i < 8; ++i) lines.push_back(pcLine("add"));
    for (int i = 0; i < 3; ++i) lines.push_back(serverLine("add"));
    for (int i = 0; i < 6; ++i) lines.push_back(nacLine("add"));
    const bool thirdOn = pick(2) == 1;
    const bool settled = pick(2) == 1;
    // Changes of every kind, deletions and re-additions included.
    std::vector<std::string> changes;
    for (int i = 0; i < 4; ++i) {
      changes.push_back(pcLine(pick(2) ? "add" : "del"));
      changes.push_back(nacLine(pick(2) ? "add" : "del"));
      changes.push_back(routeLine(pick(2) ? "add" : "del"));
      changes.push_back(serverLine(pick(2) ? "add" : "del"));
    }
    if (pick(3) == 0) changes.push_back("gw del 127.0.0." + std::to_string(2 + pick(3)));
    // Both walks start from the same registries, flags and all.
    const auto build = [&] {
      ResetRegistries();
      for (const std::string& line : lines) RunCommandLine(line);
      SetOn("127.0.0.2", true);
      SetOn("127.0.0.3", thirdOn);
      if (settled) Settle();
      for (const std::string& line : changes) RunCommandLine(line);
    };

    const std::uint32_t commandId = 1 + static_cast<std::uint32_t>(pick(5));
    SCOPED_TRACE("round " + std::to_string(round) + ", command " + std::to_string(commandId));
    build();
    const std::vector<std::string> made = Walk(commandId);
    const std::string after = State();
    build();
    RecordingEmitter reference;
    plain[commandId - 1](reference);
    EXPECT_EQ(made, reference.made);
    EXPECT_EQ(after, State());
    compared += made.size();
  }
  EXPECT_GT(compared, 400u) << "the rounds must make rules to compare";
}

}  // namespace
