#include "acl/GatewayRuleSet.h"

#include <atomic>
#include <string_view>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/CollectingEmitter.h"
#include "acl/SnapshotWalk.h"
#include "list/NacNode.h"
#include "request/HttpDataList.h"

namespace {

// The lines a gateway keeps, from the rules' text alone.
class LineEmitter final : public AclEmitter {
 public:
  explicit LineEmitter(GatewayRuleLines& lines) : lines_(lines) {}

  bool ClientRule(const CGwData&, CAclData& acl) override { return Keep(acl); }
  bool NacRule(const CGwData&, CAclData& acl) override { return Keep(acl); }
  bool Reset(const CGwData&, std::int32_t) override { return true; }  // they come first: nothing to clear
  void NacMade(std::int32_t, const CNacData&, const std::string&, const CGwData&) override {}
  bool Wake() override { return true; }

 private:
  bool Keep(CAclData& acl) {
    if (acl.MakeAcl() != 0) return false;
    ++lines_.requests;
    // A reset's rules are all adds: "add access-list " goes, the list name stays.
    constexpr std::string_view kVerb = "add access-list ";
    lines_.rules.insert(acl.text.starts_with(kVerb) ? acl.text.substr(kVerb.size()) : acl.text);
    return true;
  }

  GatewayRuleLines& lines_;
};

}  // namespace

std::vector<GatewayRuleLines> GatewayRuleLineSets() {
  std::vector<GatewayRuleLines> sets;
  AclView view;
  const std::atomic<int> never{0};
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (!gateway.IsLive()) return true;
    GatewayRuleLines& lines = sets.emplace_back();
    lines.address = gateway.address;
    lines.port = gateway.port;
    lines.addressText = gateway.addressText;
    lines.on = gateway.on != 0;
    LineEmitter emitter(lines);
    ResetRules(emitter, view, gateway, never);
    return true;
  });
  return sets;
}

std::vector<GatewayRules> GatewayRuleSets() {
  std::vector<GatewayRules> sets;
  AclView view;
  const std::atomic<int> never{0};
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (!gateway.IsLive()) return true;
    GatewayRules& rules = sets.emplace_back();
    rules.address = gateway.address;
    rules.port = gateway.port;
    rules.addressText = gateway.addressText;
    rules.on = gateway.on != 0;
    CollectingEmitter emitter(rules.requests);
    ResetRules(emitter, view, gateway, never);
    return true;
  });
  return sets;
}

std::vector<CHttpData> GatewayRuleSet(std::uint32_t address) {
  std::vector<CHttpData> requests;
  AclView view;
  CollectingEmitter emitter(requests);
  const std::atomic<int> never{0};
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (!gateway.IsLive() || gateway.address != address) return true;
    ResetRules(emitter, view, gateway, never);
    return false;
  });
  return requests;
}
