#pragma once

#include <cstdint>

#include "acl/AclContext.h"
#include "acl/AclEmitter.h"
#include "list/NacList.h"

// What the controller's two keep-alive threads do with the gateways reported ON and OFF.

// Takes the start requests (gateways reported ON) oldest first and resets each gateway,
// after the stop requests reported before it.
void KeepAliveStartProcess(const AclContext& context, CNacList& startRequests, CNacList& stopRequests);
// Every live gateway of address that is ON and waits for its reset gets the two reset
// orders and then its whole rule set; its reset pending and added flags are cleared.
void KeepAliveResetSearch(const AclContext& context, std::uint32_t address);
// The same, with the rules put into emitter.
void KeepAliveResetSearch(const AclContext& context, std::uint32_t address, AclEmitter& emitter);
// Takes the stop requests (gateways reported OFF) oldest first and drops what still waits
// for each: its start requests reported before it, its pending requests, and its sender's
// queue. Never while a reset is being queued.
void KeepAliveStopProcess(const AclContext& context, CNacList& stopRequests, CNacList& startRequests);
