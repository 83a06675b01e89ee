#pragma once

#include <atomic>
#include <cstdint>

#include "acl/AclEmitter.h"
#include "acl/AclView.h"

// The rules of one combination and the fan-outs that reach every combination of a gateway,
// a route, a PC and a quarantine server. opcode is the verb of every line made
// (CAclData::kAdd for an added record, kDelete for a deleted one). The fan-outs visit only
// live records, in list order, and end early once stop is set.

// The client rules of (gateway, route or none, pc, server), then the rules of every NAC
// entry that matches (gateway, route, pc).
void NacCommandAclClientProcess(AclEmitter& emitter, const AclView& view, const CGwData& gateway,
                                const CGwrouteData* route, const CPcData& pc, const CQuarantineData& server,
                                std::int32_t opcode);
// The two "nac" rules of entry for (gateway, route or none, pc), when they match.
void NacCommandAclQuarantineProcess(AclEmitter& emitter, const CNacData& entry, const CGwData& gateway,
                                    const CGwrouteData* route, const CPcData& pc, std::int32_t opcode);

// Every quarantine server for (gateway, route, pc).
void QuarantineFanOut(AclEmitter& emitter, const AclView& view, const CGwData& gateway, const CGwrouteData* route,
                      const CPcData& pc, std::int32_t opcode, const std::atomic<int>& stop);
// Every PC behind (gateway, route), each with every quarantine server.
void PcFanOut(AclEmitter& emitter, const AclView& view, const CGwData& gateway, const CGwrouteData* route,
              std::int32_t opcode, const std::atomic<int>& stop);
// Every live route of gateway (or no route when its list holds none at all), each with
// every PC and quarantine server.
void GatewayFanOut(AclEmitter& emitter, const AclView& view, CGwData& gateway, std::int32_t opcode,
                   const std::atomic<int>& stop);

// What a gateway that comes back is sent: the client reset, the quarantine reset, then
// every rule it should hold, in the order of the gateway fan-out.
void ResetRules(AclEmitter& emitter, const AclView& view, CGwData& gateway, const std::atomic<int>& stop);
