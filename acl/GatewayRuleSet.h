#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "request/HttpData.h"
#include "request/RuleLedger.h"

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
// what a comparison with the gateway needs, for every gateway at once.
struct GatewayRuleLines {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::string addressText;
  bool on = false;
  std::size_t requests = 0;  // rule requests, the two resets not counted
  RuleSet rules;
};
std::vector<GatewayRuleLines> GatewayRuleLineSets();
