#pragma once

#include <cstdint>
#include <vector>

#include "request/HttpData.h"

// The whole rule set a gateway should hold, computed from the registries alone: what its
// reset would queue now (the client reset, the quarantine reset, then every rule in the
// order of the gateway fan-out), without queuing, sending or logging anything. Empty when
// no live gateway has address.
std::vector<CHttpData> GatewayRuleSet(std::uint32_t address);
