#include "acl/AclRules.h"

#include <string>
#include <vector>

#include "acl/SnapshotWalk.h"
#include "list/NacNode.h"
#include "request/HttpDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"

namespace {

const std::string kNone;

// One "pc" line: accept, the fields as given.
bool ClientLine(AclEmitter& emitter, const CGwData& gateway, std::int32_t opcode, const std::string& in,
                const std::string& out, const std::string& sourceMac, const std::string& source,
                const std::string& destination, const std::string& protocol, const std::string& sport,
                const std::string& dport) {
  CAclData acl;
  acl.opcode = opcode;
  acl.name = "pc";
  acl.action = CAclData::kAccept;
  acl.in = in;
  acl.out = out;
  acl.sourceMac = sourceMac;
  acl.source = source;
  acl.destination = destination;
  acl.protocol = protocol;
  acl.sport = sport;
  acl.dport = dport;
  return emitter.ClientRule(gateway, acl);
}

void ClientRulesWithRoute(AclEmitter& emitter, const CGwData& gateway, const CGwrouteData& route, const CPcData& pc,
                          const CQuarantineData& server, std::int32_t opcode) {
  const auto line = [&](const std::string& in, const std::string& out, const std::string& mac, const std::string& source,
                        const std::string& destination, const std::string& sport, const std::string& dport) {
    if (!ClientLine(emitter, gateway, opcode, in, out, mac, source, destination, server.protocol, sport, dport)) {
      SyslogSend(3, "NacCommandAclClientProcessIsGwroute: An error occurred in NacCommandAclClientMake.");
    }
  };
  const bool routeGiven = route.network != 0 && route.netmask != 0;
  const std::uint32_t routeNetwork = route.network & route.netmask;
  // The PC itself inside the route, or a PC known by its MAC alone, which may be anywhere.
  if ((pc.HasMac() && pc.HasSource() && routeGiven && (pc.source & route.netmask) == routeNetwork) ||
      (!pc.HasSource() && !pc.HasNetwork())) {
    line(route.device, kNone, pc.macText, pc.sourceText, server.sourceText, kNone, server.portText);
    line(kNone, route.device, kNone, server.sourceText, pc.sourceText, server.portText, kNone);
  }
  if (pc.HasNetwork() && routeGiven && (pc.network & route.netmask) == routeNetwork) {
    const std::string network = pc.networkText + "/" + std::to_string(MaskToPrefix(pc.netmaskText.c_str()));
    line(route.device, kNone, pc.macText, network, server.sourceText, kNone, server.portText);
    line(kNone, route.device, kNone, server.sourceText, network, server.portText, kNone);
  }
}

void ClientRulesWithoutRoute(AclEmitter& emitter, const CGwData& gateway, const CPcData& pc,
                             const CQuarantineData& server, std::int32_t opcode) {
  if (pc.HasSource() || pc.HasNetwork()) return;
  const auto line = [&](const std::string& mac, const std::string& source, const std::string& destination,
                        const std::string& sport, const std::string& dport) {
    if (!ClientLine(emitter, gateway, opcode, kNone, kNone, mac, source, destination, server.protocol, sport, dport)) {
      SyslogSend(3, "NacCommandAclClientProcessNoGwroute: An error occurred in NacCommandAclClientMake.");
    }
  };
  line(pc.macText, pc.sourceText, server.sourceText, kNone, server.portText);
  line(kNone, server.sourceText, pc.sourceText, server.portText, kNone);
}

// NacCommandNacMake: one "nac" line; the target becomes the action (anything but accept
// or drop makes the line fail).
bool NacLine(AclEmitter& emitter, const CGwData& gateway, std::int32_t opcode, std::int32_t target,
             const std::string& in, const std::string& out, const std::string& source, const std::string& destination,
             const std::string& sourceMac) {
  if (source.empty() && destination.empty()) {
    SyslogSend(3, "NacCommandNacMake: Argument abnormality occurred.");
    return false;
  }
  const std::uint16_t action = static_cast<std::uint16_t>(target);
  CAclData acl;
  acl.opcode = opcode;
  acl.name = "nac";
  acl.action = action == CAclData::kAccept || action == CAclData::kDrop ? action : 0;
  acl.in = in;
  acl.out = out;
  acl.source = source;
  acl.destination = destination;
  acl.sourceMac = sourceMac;
  return emitter.NacRule(gateway, acl);
}

// The NAC part of a combination, given the entries that match it.
void ClientProcess(AclEmitter& emitter, const std::vector<const CNacData*>& entries, const CGwData& gateway,
                   const CGwrouteData* route, const CPcData& pc, const CQuarantineData& server, std::int32_t opcode) {
  if (route != nullptr) {
    ClientRulesWithRoute(emitter, gateway, *route, pc, server, opcode);
  } else {
    ClientRulesWithoutRoute(emitter, gateway, pc, server, opcode);
  }
  if (!emitter.Wake()) {
    SyslogSend(3, "NacCommandAclClientProcess: An error occurred in EventSend.");
    return;
  }
  for (const CNacData* entry : entries) NacCommandAclQuarantineProcess(emitter, *entry, gateway, route, pc, opcode);
}

}  // namespace

void NacCommandAclClientProcess(AclEmitter& emitter, const AclView& view, const CGwData& gateway,
                                const CGwrouteData* route, const CPcData& pc, const CQuarantineData& server,
                                std::int32_t opcode) {
  ClientProcess(emitter, view.EntriesFor(route, pc), gateway, route, pc, server, opcode);
}

void NacCommandAclQuarantineProcess(AclEmitter& emitter, const CNacData& entry, const CGwData& gateway,
                                    const CGwrouteData* route, const CPcData& pc, std::int32_t opcode) {
  if (!AclView::NacMatches(entry, route, pc)) return;
  const std::string& mac = !entry.macText.empty() ? entry.macText : pc.macText;
  const std::string& device = route != nullptr ? route->device : kNone;
  if (!NacLine(emitter, gateway, opcode, entry.target, device, kNone, entry.sourceText, kNone, mac) ||
      !NacLine(emitter, gateway, opcode, entry.target, kNone, device, kNone, entry.sourceText, kNone)) {
    SyslogSend(3, "NacCommandAclQuarantineProcess: An error occurred in NacCommandNacMake.");
    return;
  }
  emitter.NacMade(opcode, entry, mac, gateway);
  if (!emitter.Wake()) SyslogSend(3, "NacCommandAclQuarantineProcess: An error occurred in EventSend.");
}

void QuarantineFanOut(AclEmitter& emitter, const AclView& view, const CGwData& gateway, const CGwrouteData* route,
                      const CPcData& pc, std::int32_t opcode, const std::atomic<int>& stop) {
  // The same entries match for every server: they are found once.
  const std::vector<const CNacData*> entries = view.EntriesFor(route, pc);
  for (const CQuarantineData* server : view.Servers()) {
    if (stop.load(std::memory_order_relaxed) != 0) return;
    ClientProcess(emitter, entries, gateway, route, pc, *server, opcode);
  }
}

void PcFanOut(AclEmitter& emitter, const AclView& view, const CGwData& gateway, const CGwrouteData* route,
              std::int32_t opcode, const std::atomic<int>& stop) {
  // A PC that is not behind the route gets no rule there: it is not visited.
  for (const CPcData* pc : view.PcsBehind(route)) {
    if (stop.load(std::memory_order_relaxed) != 0) return;
    QuarantineFanOut(emitter, view, gateway, route, *pc, opcode, stop);
  }
}

void GatewayFanOut(AclEmitter& emitter, const AclView& view, CGwData& gateway, std::int32_t opcode,
                   const std::atomic<int>& stop) {
  CGwrouteDataList& routes = gateway.Routes();
  // Only a list without any route, withdrawn ones included, counts as no routes.
  if (routes.IsEmpty(false)) {
    PcFanOut(emitter, view, gateway, nullptr, opcode, stop);
    return;
  }
  WalkSnapshot<CGwrouteData>(routes, [&](const CGwrouteData& route) {
    if (stop.load(std::memory_order_relaxed) != 0) return false;
    if (route.IsLive()) PcFanOut(emitter, view, gateway, &route, opcode, stop);
    return true;
  });
}

void ResetRules(AclEmitter& emitter, const AclView& view, CGwData& gateway, const std::atomic<int>& stop) {
  if (emitter.Reset(gateway, CHttpDataList::kClient) && emitter.Reset(gateway, CHttpDataList::kQuarantine) &&
      !emitter.Wake()) {
    SyslogSend(3, "KeepAliveResetProcess: An error occurred in EventSend.");
  }
  GatewayFanOut(emitter, view, gateway, CAclData::kAdd, stop);
}
