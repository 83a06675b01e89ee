#pragma once

#include <cstdint>

#include "registry/GwData.h"
#include "registry/NacData.h"
#include "request/AclData.h"

// Where the rule walks put what they make. The walks decide which rules a change or a
// reset needs and in what order; an emitter turns them into requests: the pending request
// list and the delivery (PendingEmitter), or a plain list for a preview (GatewayRuleSet).
class AclEmitter {
 public:
  virtual ~AclEmitter() = default;
  // One rule of list "pc" (class client) or "nac" (class quarantine) for gateway, its
  // fields filled; the line is built here. False when it could not be made (logged).
  [[nodiscard]] virtual bool ClientRule(const CGwData& gateway, CAclData& acl) = 0;
  [[nodiscard]] virtual bool NacRule(const CGwData& gateway, CAclData& acl) = 0;
  // The reset order of one class for gateway. False when it could not be made (logged).
  [[nodiscard]] virtual bool Reset(const CGwData& gateway, std::int32_t requestClass) = 0;
  // Both rules of entry are made for gateway; mac is the MAC text they carry.
  virtual void NacMade(std::int32_t opcode, const CNacData& entry, const std::string& mac, const CGwData& gateway) = 0;
  // Wakes the delivery for what was made; false when that fails.
  [[nodiscard]] virtual bool Wake() = 0;
};
