#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "delivery/GatewayLedger.h"

// Where each gateway stands: its state, the requests waiting for it, how the deliveries to
// it went and whether what it acknowledged is what it should hold. "acl status" and the
// status page show the same figures from here.
struct GatewayStatus {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::string addressText;
  bool on = false;
  std::int64_t stateSince = 0;  // CGwData::stateSince
  std::int32_t waiting = 0;     // requests pending and queued
  GatewayLedger::Entry seen;    // all zero and empty before its first delivery
  GatewayLedger::Difference difference;

  [[nodiscard]] bool InSync() const { return difference.missing == 0 && difference.extra == 0; }
  // "in sync", or "missing N extra M".
  std::string SyncText() const;
};

// Every live gateway in turn, in the registry's order.
void VisitFleetStatus(const std::function<void(const GatewayStatus&)>& visit);
