#include "acl/GatewayRuleSet.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <utility>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/CollectingEmitter.h"
#include "acl/SnapshotWalk.h"
#include "list/NacNode.h"
#include "request/HttpDataList.h"
#include "request/RuleSet.h"

namespace {

// A reset's rules are all adds: "add access-list " goes, the list name stays.
constexpr std::string_view kVerb = "add access-list ";

// The lines a gateway keeps, from the rules' text alone. A NAC entry's lines come once for
// every quarantine server: they are told apart by hash first, which is cheaper than a set
// of strings at thousands of gateways. The buffers serve one gateway after another, so a
// walk of a large site allocates little once the first gateways are done.
class LineEmitter final : public AclEmitter {
 public:
  bool ClientRule(const CGwData&, CAclData& acl) override { return Keep(acl); }
  bool NacRule(const CGwData&, CAclData& acl) override { return Keep(acl); }
  bool Reset(const CGwData&, std::int32_t) override { return true; }  // they come first: nothing to clear
  void NacMade(std::int32_t, const CNacData&, const std::string&, const CGwData&) override {}
  bool Wake() override { return true; }

  void Begin(GatewayRuleLines& lines) {
    lines_ = &lines;
    used_ = 0;
    hashed_.clear();
  }

  // Leaves each line once in the gateway's rules, with their digest.
  void Finish() {
    std::sort(hashed_.begin(), hashed_.end());
    std::vector<std::string_view>& rules = lines_->rules;
    rules.clear();
    std::size_t sameHash = 0;  // where the kept lines with the current hash begin
    for (std::size_t i = 0; i < hashed_.size(); ++i) {
      const auto [hash, at] = hashed_[i];
      if (i == 0 || hashed_[i - 1].first != hash) sameHash = rules.size();
      std::string_view line = made_[at];
      if (line.starts_with(kVerb)) line.remove_prefix(kVerb.size());
      if (std::find(rules.begin() + static_cast<std::ptrdiff_t>(sameHash), rules.end(), line) != rules.end()) {
        continue;
      }
      lines_->digest += hash;
      rules.push_back(line);
    }
  }

 private:
  bool Keep(CAclData& acl) {
    // The line is made in a buffer of an earlier gateway's, and stays there.
    if (used_ == made_.size()) made_.emplace_back();
    acl.text.swap(made_[used_]);
    const bool made = acl.MakeAcl() == 0;
    acl.text.swap(made_[used_]);
    if (!made) return false;
    ++lines_->requests;
    std::string_view line = made_[used_];
    if (line.starts_with(kVerb)) line.remove_prefix(kVerb.size());
    hashed_.emplace_back(RuleLineHash(line), used_++);
    return true;
  }

  GatewayRuleLines* lines_ = nullptr;
  std::vector<std::string> made_;  // the first used_ hold this gateway's lines, with their verb
  std::size_t used_ = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> hashed_;  // hash, place in made_
};

}  // namespace

void VisitGatewayRuleLines(const std::function<void(const GatewayRuleLines&)>& visit) {
  AclView view;
  const std::atomic<int> never{0};
  LineEmitter emitter;
  GatewayRuleLines lines;
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (!gateway.IsLive()) return true;
    lines.address = gateway.address;
    lines.port = gateway.port;
    lines.addressText = gateway.addressText;
    lines.on = gateway.on != 0;
    lines.stateSince = gateway.stateSince;
    lines.requests = 0;
    lines.digest = 0;
    emitter.Begin(lines);
    ResetRules(emitter, view, gateway, never);
    emitter.Finish();
    visit(lines);
    return true;
  });
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
