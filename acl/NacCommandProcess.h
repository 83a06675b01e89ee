#pragma once

#include <cstdint>

#include "acl/AclContext.h"
#include "acl/AclEmitter.h"
#include "command/CommandId.h"

// The rules of a command's change, made on the controller's thread: the walk of the
// command's registry over its changed records, each fanned out to every combination of an
// ON gateway, a route, a PC and a quarantine server it touches, with the verb add for an
// added record and delete for a deleted one. Afterwards the added flag is cleared, or the
// deleted record erased. A gateway that is OFF is passed over: the reset brings it its
// state when it comes ON.
//
// Only the commands of the five registries walk; any other does nothing. The value is not
// used.
void NacCommandProcess(const AclContext& context, CommandId commandId, std::int32_t value);

// Each walk puts its rules into the pending request list and wakes the delivery; given an
// emitter, it puts them there instead.
void NacCommandNacChange(const AclContext& context);
void NacCommandNacChange(const AclContext& context, AclEmitter& emitter);
void NacCommandGwChange(const AclContext& context);
void NacCommandGwChange(const AclContext& context, AclEmitter& emitter);
void NacCommandGwrouteChange(const AclContext& context);
void NacCommandGwrouteChange(const AclContext& context, AclEmitter& emitter);
void NacCommandPcChange(const AclContext& context);
void NacCommandPcChange(const AclContext& context, AclEmitter& emitter);
void NacCommandQuarantineChange(const AclContext& context);
void NacCommandQuarantineChange(const AclContext& context, AclEmitter& emitter);
