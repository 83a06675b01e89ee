#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "request/HttpData.h"

// The whole rule set a gateway should hold, computed from the registries alone: what its
// reset would queue now (the client reset, the quarantine reset, then every rule in the
// order of the gateway fan-out), without queuing, sending or logging anything. Empty when
// no live gateway has address.
std::vector<CHttpData> GatewayRuleSet(std::uint32_t address);

// The same for every live gateway at once, from one look at the registries, in the
// registry's order.
struct GatewayRules {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::string addressText;
  bool on = false;
  std::vector<CHttpData> requests;
};
std::vector<GatewayRules> GatewayRuleSets();

// The same as the rules each gateway would hold afterwards ("pc accept ...", as it keeps
// them, once each) and how many rule requests make them, without building the requests:
// what a comparison with the gateway needs. Every live gateway in turn, in the registry's
// order, from one look at the registries; what visit is given lasts until it returns.
struct GatewayRuleLines {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::string addressText;
  bool on = false;
  std::int64_t stateSince = 0;          // CGwData::stateSince
  std::size_t requests = 0;             // rule requests, the two resets not counted
  std::vector<std::string_view> rules;  // once each, in no particular order
  std::uint64_t digest = 0;             // as RuleSet::Digest would give for them
};
void VisitGatewayRuleLines(const std::function<void(const GatewayRuleLines&)>& visit);
