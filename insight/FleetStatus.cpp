#include "insight/FleetStatus.h"

#include <unordered_map>

#include "acl/GatewayRuleSet.h"
#include "insight/InsightSources.h"

std::string GatewayStatus::SyncText() const {
  if (InSync()) return "in sync";
  return "missing " + std::to_string(difference.missing) + " extra " + std::to_string(difference.extra);
}

void VisitFleetStatus(const std::function<void(const GatewayStatus&)>& visit) {
  const std::unordered_map<std::uint32_t, std::int32_t> waiting = WaitingByGateway();
  const GatewayLedger& ledger = GetGatewayLedger();
  GatewayStatus status;
  VisitGatewayRuleLines([&](const GatewayRuleLines& gateway) {
    status.address = gateway.address;
    status.port = gateway.port;
    status.addressText = gateway.addressText;
    status.on = gateway.on;
    status.stateSince = gateway.stateSince;
    const auto queued = waiting.find(gateway.address);
    status.waiting = queued != waiting.end() ? queued->second : 0;
    status.difference = ledger.Compare(gateway.address, gateway.rules, gateway.digest, status.seen);
    visit(status);
  });
}
