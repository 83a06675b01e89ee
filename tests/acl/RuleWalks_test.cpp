// The rules each change and each reset makes, line by line, and on random registries the
// rules the rule model implies, with the flags each walk leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "acl/AclContext.h"
#include "acl/KeepAliveReset.h"
#include "acl/NacCommandProcess.h"
#include "keepalive/KeepAliveData.h"
#include "request/HttpDataList.h"
#include "support/AddressParse.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/RecordDump.h"
#include "tests/common/RuleModel.h"

namespace {

using testing_support::Records;

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
  // The gateway of that address, withdrawn or not; no other thread runs.
  static CGwData& Gateway(const std::string& address) {
    for (CGwData* gateway : Records<CGwData>(GetGwDataList())) {
      if (gateway->addressText == address) return *gateway;
    }
    throw std::logic_error("no gateway " + address);
  }
  // Gateways are OFF until a probe answers; here the test says which are ON.
  static void SetOn(const std::string& address, bool on) { Gateway(address).on = on ? 1 : 0; }
  // The rules of one command's walk.
  std::vector<std::string> Walk(CommandId command) {
    using Walker = void (*)(const AclContext&, AclEmitter&);
    const std::map<CommandId, Walker> walks = {
        {CommandId::kNac, NacCommandNacChange}, {CommandId::kGw, NacCommandGwChange},
        {CommandId::kGwroute, NacCommandGwrouteChange}, {CommandId::kPc, NacCommandPcChange},
        {CommandId::kQuarantine, NacCommandQuarantineChange}};
    RecordingEmitter emitter;
    walks.at(command)(context_, emitter);
    return emitter.made;
  }
  // The rules of the reset of a gateway that came back ON.
  std::vector<std::string> Reset(const std::string& address) {
    CGwData& gateway = Gateway(address);
    gateway.resetPending = 1;
    const std::uint32_t value = gateway.address;
    RecordingEmitter emitter, again;
    KeepAliveResetSearch(context_, value, emitter);
    KeepAliveResetSearch(context_, value, again);
    EXPECT_EQ(again.made, std::vector<std::string>{}) << "no reset pending, nothing sent";
    return emitter.made;
  }
  // Clears what the loads and adds flagged, as the start does.
  static void Settle() {
    GetGwDataList().SetAllAdded(0);
    GetPcDataList().SetAllAdded(0);
    GetQuarantineDataList().SetAllAdded(0);
    GetNacDataList().SetAllAdded(0);
    for (CGwData* gateway : Records<CGwData>(GetGwDataList())) gateway->Routes().SetAllAdded(0);
  }

  std::atomic<int> endFlag_{0};
  AclContext context_{endFlag_, nullptr};
};

TEST_F(RuleWalksTest, NacRulesCarryTheEntrysOrThePcsMac) {
  Run({"gw add 172.16.0.1", "gwroute add 172.16.0.1 network 192.168.0.0 dev eth0",
       "quarantine add source 172.17.254.254 protocol tcp sport 4208",
       "pc add source-mac 00:11:22:33:44:55 source 192.168.0.1", "pc add source-mac 00:aa:bb:cc:dd:ee"});
  SetOn("172.16.0.1", true);
  Settle();
  Run({"nac add accept source 192.168.0.1", "nac add drop source 192.168.0.9 source-mac 00:aa:bb:cc:dd:ee"});
  EXPECT_EQ(Walk(CommandId::kNac), (std::vector<std::string>{
                         "172.16.0.1 add access-list nac accept in eth0 source 192.168.0.1 source-mac 00:11:22:33:44:55",
                         "172.16.0.1 add access-list nac accept out eth0 destination 192.168.0.1",
                         "log: add 192.168.0.1 (00:11:22:33:44:55) to 172.16.0.1",
                         "172.16.0.1 add access-list nac drop in eth0 source 192.168.0.9 source-mac 00:AA:BB:CC:DD:EE",
                         "172.16.0.1 add access-list nac drop out eth0 destination 192.168.0.9",
                         "log: add 192.168.0.9 (00:AA:BB:CC:DD:EE) to 172.16.0.1"}));
  Run({"nac del accept source 192.168.0.1"});
  EXPECT_EQ(Walk(CommandId::kNac).at(2), "log: delete 192.168.0.1 (00:11:22:33:44:55) to 172.16.0.1");
  EXPECT_EQ(GetNacDataList().GetCount(false), 1) << "the deleted entry is erased";
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
  const std::uint32_t address = Gateway("172.16.0.1").address;
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
  const std::vector<CHttpData*> sent = Records<CHttpData>(GetPendingHttpDataList());
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0]->body, "version=1&class=client&opcode=reset&count=0");
  EXPECT_EQ(sent[1]->body, "version=1&class=quarantine&opcode=reset&count=0");
  GetPendingHttpDataList().RemoveAll(false);
}

// A record as a walk finds it: what it is to the rule model, and its flags.
template <class Value>
struct Seen {
  Value value;
  bool added = false;
  bool deleted = false;
  bool operator==(const Seen&) const = default;
};
struct SeenGateway : Seen<std::string> {
  bool on = false;
  std::vector<Seen<rule_model::Route>> routes;
  bool operator==(const SeenGateway&) const = default;
};
struct Site {
  std::vector<SeenGateway> gateways;
  std::vector<Seen<rule_model::Pc>> pcs;
  std::vector<Seen<rule_model::Server>> servers;
  std::vector<Seen<rule_model::Entry>> entries;
  bool operator==(const Site&) const = default;
};

template <class Record, class Value>
std::vector<Seen<Value>> Read(CNacList& list, Value (*value)(Record&)) {
  std::vector<Seen<Value>> seen;
  for (Record* r : Records<Record>(list)) seen.push_back({value(*r), r->added != 0, r->deleted != 0});
  return seen;
}

Site ReadSite() {
  Site site;
  site.pcs = Read<CPcData>(GetPcDataList(), +[](CPcData& p) {
    const int prefix = p.networkText.empty() ? 0 : MaskToPrefix(p.netmaskText.c_str());
    return rule_model::Pc{p.macText, p.sourceText, p.networkText, prefix};
  });
  site.servers = Read<CQuarantineData>(GetQuarantineDataList(), +[](CQuarantineData& q) {
    return rule_model::Server{q.sourceText, q.protocol, q.portText};
  });
  site.entries = Read<CNacData>(GetNacDataList(), +[](CNacData& n) {
    return rule_model::Entry{n.target == CNacData::kAccept, n.sourceText, n.macText};
  });
  for (const Seen<CGwData*>& g : Read<CGwData>(GetGwDataList(), +[](CGwData& g) { return &g; })) {
    const std::string address = g.value->addressText;
    auto routes = Read<CGwrouteData>(g.value->Routes(), +[](CGwrouteData& r) {
      return rule_model::Route{"", r.device, r.networkText, MaskToPrefix(r.netmaskText.c_str())};
    });
    for (auto& route : routes) route.value.gateway = address;
    site.gateways.push_back({{address, g.added, g.deleted}, g.value->on != 0, routes});
  }
  return site;
}

// What the model sees of the site for one gateway: the live records, the gateway's live routes.
rule_model::Registries Live(const Site& site, const SeenGateway& gateway) {
  rule_model::Registries model{{gateway.value}, {}, {}, {}, {}};
  const auto live = [](const auto& records, auto& into) {
    for (const auto& record : records) {
      if (!record.deleted) into.push_back(record.value);
    }
  };
  live(gateway.routes, model.routes);
  live(site.pcs, model.pcs);
  live(site.servers, model.servers);
  live(site.entries, model.entries);
  return model;
}

// A gateway whose routes are all withdrawn gets no rule: only one without any takes part
// with no route.
bool Routed(const SeenGateway& gateway) {
  return gateway.routes.empty() || std::ranges::any_of(gateway.routes, [](const auto& r) { return !r.deleted; });
}

// Each gateway's orders, in the order sent.
using Orders = std::map<std::string, std::vector<std::string>>;

void Put(Orders& orders, const std::string& gateway, bool add, const std::vector<std::string>& rules) {
  for (const std::string& rule : rules) {
    orders[gateway].push_back((add ? "add access-list " : "delete access-list ") + rule);
  }
}

// The change walk of a command, or none: the reset of the first gateway.
using Walked = std::optional<CommandId>;
const std::string kFirst = "127.0.0.2";

// What the walk should do by the rule model: the orders it sends and the site it
// leaves. A change walk takes every changed record of its registry in list order: an add
// pass for an added one, a delete pass for a deleted one (both in one walk for a server,
// for the rest only once it is not added too). Each pass sends every ON gateway what the
// model implies for that record alone; then the record loses its added flag, or is gone
// after its delete pass. An OFF gateway keeps its flags and its routes'.
std::pair<Orders, Site> Expected(Site site, Walked walked) {
  const Site before = site;
  Orders orders;
  const auto change = [](auto& records, bool both, auto reached, auto send) {
    std::erase_if(records, [&](auto& record) {
      if (!reached(record)) return false;
      const bool deletes = record.deleted && (both || !record.added);
      if (record.added) send(record, true);
      if (deletes) send(record, false);
      record.added = false;
      return deletes;
    });
  };
  const auto all = [](const auto&) { return true; };
  const auto on = [](const SeenGateway& g) { return !g.deleted && g.on; };
  // Every ON gateway gets the rules of the record in place of every record of its kind.
  const auto alone = [&](auto kind, auto rulesOf) {
    return [&, kind, rulesOf](const auto& record, bool add) {
      for (const SeenGateway& gateway : before.gateways) {
        if (!on(gateway) || !Routed(gateway)) continue;
        rule_model::Registries model = Live(before, gateway);
        model.*kind = {record.value};
        Put(orders, gateway.value, add, rulesOf(model, gateway.value));
      }
    };
  };
  using rule_model::Registries;
  if (!walked) {
    for (SeenGateway& gateway : site.gateways) {
      if (gateway.value != kFirst || !on(gateway)) continue;
      orders[kFirst] = {"reset client", "reset quarantine"};
      if (Routed(gateway)) Put(orders, kFirst, true, rule_model::ResetRules(Live(before, gateway), kFirst));
      gateway.added = false;
    }
    return {orders, site};
  }
  switch (*walked) {
    case CommandId::kNac:
      change(site.entries, false, all, alone(&Registries::entries, rule_model::EntryRules));
      break;
    case CommandId::kGw:
      change(site.gateways, false, [](const SeenGateway& g) { return g.on; }, [&](const SeenGateway& g, bool add) {
        if (Routed(g)) Put(orders, g.value, add, rule_model::ResetRules(Live(before, g), g.value));
      });
      break;
    case CommandId::kGwroute:  // the changed routes of every ON gateway, whatever its other routes
      for (SeenGateway& gateway : site.gateways) {
        if (!on(gateway)) continue;
        change(gateway.routes, false, all, [&](const Seen<rule_model::Route>& route, bool add) {
          rule_model::Registries model = Live(before, gateway);
          model.routes = {route.value};
          Put(orders, gateway.value, add, rule_model::ResetRules(model, gateway.value));
        });
      }
      break;
    case CommandId::kPc:
      change(site.pcs, false, all, alone(&Registries::pcs, rule_model::ResetRules));
      break;
    case CommandId::kQuarantine:
      change(site.servers, true, all, alone(&Registries::servers, rule_model::ResetRules));
      break;
    default:
      break;
  }
  return {orders, site};
}

// Orders compared where their order matters: within a run of one verb it does not.
Orders Runs(Orders orders) {
  const auto verb = [](const std::string& order) { return order.substr(0, order.find(' ')); };
  for (auto& [gateway, list] : orders) {
    for (auto start = list.begin(); start != list.end();) {
      const auto end = std::find_if(start, list.end(), [&](const std::string& o) { return verb(o) != verb(*start); });
      std::sort(start, end);
      start = end;
    }
  }
  return orders;
}

// Random registries, flags and all: every walk, and a gateway's reset, sends each gateway
// what the rule model implies, with only the order within a run of adds or deletes free,
// and leaves the flags as its passes should.
TEST_F(RuleWalksTest, EveryWalkMakesWhatTheRuleModelImplies) {
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

  std::size_t compared = 0;
  for (int round = 0; round < 40; ++round) {
    ResetRegistries();
    for (int g = 2; g <= 4; ++g) RunCommandLine("gw add 127.0.0." + std::to_string(g));
    for (int i = 0; i < 6; ++i) RunCommandLine(routeLine("add"));
    for (int i = 0; i < 8; ++i) RunCommandLine(pcLine("add"));
    for (int i = 0; i < 3; ++i) RunCommandLine(serverLine("add"));
    for (int i = 0; i < 6; ++i) RunCommandLine(nacLine("add"));
    SetOn(kFirst, true);
    SetOn("127.0.0.3", pick(2) == 1);
    if (pick(2) == 1) Settle();
    // Changes of every kind: additions, deletions, and records added and deleted again.
    for (int i = 0; i < 4; ++i) {
      for (const std::string& add : {pcLine("add"), nacLine("add"), routeLine("add"), serverLine("add")}) {
        const int what = pick(3);
        if (what != 1) RunCommandLine(add);
        if (what != 0) RunCommandLine(std::string(add).replace(add.find(" add "), 5, " del "));
      }
    }
    if (pick(3) == 0) RunCommandLine("gw del 127.0.0." + std::to_string(2 + pick(3)));

    const int choice = pick(6);
    const Walked walked = choice < 5 ? Walked(static_cast<CommandId>(choice + 1)) : std::nullopt;
    SCOPED_TRACE("round " + std::to_string(round) + ", command id " + std::to_string(walked ? choice + 1 : 0));
    const auto [orders, after] = Expected(ReadSite(), walked);
    Orders made;
    for (const std::string& line : walked ? Walk(*walked) : Reset(kFirst)) {
      if (!line.starts_with("log: ")) made[line.substr(0, line.find(' '))].push_back(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(Runs(made), Runs(orders));
    EXPECT_TRUE(ReadSite() == after) << "the flags after the walk";
    for (const auto& [gateway, orders] : made) compared += orders.size();
  }
  EXPECT_GT(compared, 400u) << "the rounds must make rules to compare";
}

}  // namespace
