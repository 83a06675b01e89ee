#pragma once

// A gateway's reset walked the plain way, the benchmark's baseline for the service's own:
// every level takes a fresh snapshot of the registry it walks and tries every record from
// the head. Independent of acl/ but for the emitter it puts its rules into, so that the
// benchmark can check that both make the same requests.

#include <cstdint>
#include <memory>
#include <string>

#include "acl/AclEmitter.h"
#include "list/NacNode.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "request/HttpDataList.h"
#include "support/AddressParse.h"

namespace plain_reset {

template <class List>
std::unique_ptr<List> Copy(List& registry) {
  auto copy = std::make_unique<List>();
  (void)registry.CopyAll(copy.get());  // with a target, it gives the copy's count
  return copy;
}

// A snapshot is walked without holding its lock across a visit, which may lock a registry.
template <class Record, class Visit>
void ForEach(CNacList& list, Visit visit) {
  CNacNode* next = nullptr;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = next) {
    next = list.GetNext(node, false);
    visit(*node->RecordAs<Record>());
  }
}

// Each live record of a fresh snapshot of the registry.
template <class Record, class Registry, class Visit>
void ForEachLive(Registry& registry, Visit visit) {
  auto snapshot = Copy(registry);
  ForEach<Record>(*snapshot, [&](Record& record) {
    if (record.IsLive()) visit(record);
  });
}

// The rules name only the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
inline void Client(AclEmitter& emitter, const CGwData& g, std::int32_t opcode, const std::string& in,
                   const std::string& out, const std::string& mac, const std::string& source,
                   const std::string& destination, const std::string& protocol, const std::string& sport,
                   const std::string& dport) {
  CAclData acl{.opcode = opcode, .name = "pc", .action = 1, .in = in, .out = out, .protocol = protocol,
               .source = source, .destination = destination, .sport = sport, .dport = dport, .sourceMac = mac};
  emitter.ClientRule(g, acl);
}

inline void Nac(AclEmitter& emitter, const CGwData& g, std::int32_t opcode, std::int32_t target,
                const std::string& in, const std::string& out, const std::string& source,
                const std::string& destination, const std::string& mac) {
  CAclData acl{.opcode = opcode, .name = "nac", .action = target, .in = in, .out = out, .source = source,
               .destination = destination, .sourceMac = mac};
  emitter.NacRule(g, acl);
}
#pragma GCC diagnostic pop

inline void QuarantineProcess(AclEmitter& emitter, const CNacData& n, const CGwData& g, const CGwrouteData* r,
                              const CPcData& p, std::int32_t opcode) {
  const bool nMac = !n.macText.empty();
  const bool pMac = !p.macText.empty();
  if (nMac && pMac && n.mac != p.mac) return;
  if (!p.sourceText.empty()) {
    if (n.source != p.source || r == nullptr || (p.source & r->netmask) != (r->network & r->netmask)) return;
  } else if (!p.networkText.empty()) {
    if (r == nullptr || p.netmask != r->netmask) return;
    const std::uint32_t m = r->netmask;
    if ((p.network & m) != (r->network & m) || (n.source & m) != (r->network & m)) return;
  } else if (!nMac) {
    return;
  }
  const std::string m = nMac ? n.macText : p.macText;
  const std::string d = r != nullptr ? r->device : "";
  Nac(emitter, g, opcode, n.target, d, "", n.sourceText, "", m);
  Nac(emitter, g, opcode, n.target, "", d, "", n.sourceText, "");
  emitter.NacMade(opcode, n, m, g);
}

inline void ClientProcess(AclEmitter& emitter, const CGwData& g, const CGwrouteData* r, const CPcData& p,
                          const CQuarantineData& q, std::int32_t opcode) {
  const bool pMac = !p.macText.empty(), pSource = !p.sourceText.empty(), pNetwork = !p.networkText.empty();
  if (r != nullptr) {
    const bool set = r->network != 0 && r->netmask != 0;
    if ((pMac && pSource && set && (p.source & r->netmask) == (r->network & r->netmask)) || (!pSource && !pNetwork)) {
      Client(emitter, g, opcode, r->device, "", p.macText, p.sourceText, q.sourceText, q.protocol, "", q.portText);
      Client(emitter, g, opcode, "", r->device, "", q.sourceText, p.sourceText, q.protocol, q.portText, "");
    }
    if (pNetwork && set && (p.network & r->netmask) == (r->network & r->netmask)) {
      const std::string net = p.networkText + "/" + std::to_string(MaskToPrefix(p.netmaskText.c_str()));
      Client(emitter, g, opcode, r->device, "", p.macText, net, q.sourceText, q.protocol, "", q.portText);
      Client(emitter, g, opcode, "", r->device, "", q.sourceText, net, q.protocol, q.portText, "");
    }
  } else if (!pSource && !pNetwork) {
    Client(emitter, g, opcode, "", "", p.macText, p.sourceText, q.sourceText, q.protocol, "", q.portText);
    Client(emitter, g, opcode, "", "", "", q.sourceText, p.sourceText, q.protocol, q.portText, "");
  }
  ForEachLive<CNacData>(GetNacDataList(), [&](const CNacData& n) { QuarantineProcess(emitter, n, g, r, p, opcode); });
}

inline void QuarantineFanOut(AclEmitter& emitter, const CGwData& g, const CGwrouteData* r, const CPcData& p,
                             std::int32_t opcode) {
  ForEachLive<CQuarantineData>(GetQuarantineDataList(), [&](const CQuarantineData& q) {
    if (!q.sourceText.empty()) ClientProcess(emitter, g, r, p, q, opcode);
  });
}

inline void PcFanOut(AclEmitter& emitter, const CGwData& g, const CGwrouteData* r, std::int32_t opcode) {
  ForEachLive<CPcData>(GetPcDataList(), [&](const CPcData& p) { QuarantineFanOut(emitter, g, r, p, opcode); });
}

template <class Visit>
void RoutesOrNone(CGwData& g, Visit visit) {
  if (g.Routes().IsEmpty(false)) {
    visit(nullptr);
    return;
  }
  ForEach<CGwrouteData>(g.Routes(), [&](const CGwrouteData& r) {
    if (r.IsLive()) visit(&r);
  });
}

inline void GatewayFanOut(AclEmitter& emitter, CGwData& g, std::int32_t opcode) {
  RoutesOrNone(g, [&](const CGwrouteData* r) { PcFanOut(emitter, g, r, opcode); });
}

inline void ResetSearch(AclEmitter& emitter, std::uint32_t address) {
  ForEachLive<CGwData>(GetGwDataList(), [&](CGwData& g) {
    if (g.on == 0 || g.resetPending == 0 || g.address != address) return;
    emitter.Reset(g, CHttpDataList::kClient);
    emitter.Reset(g, CHttpDataList::kQuarantine);
    GatewayFanOut(emitter, g, 1);
    CNacList::Guard held(GetGwDataList());
    if (CGwData* live = GetGwDataList().FindLive(g, held)) {
      live->resetPending = 0;
      live->added = 0;
    }
  });
}

}  // namespace plain_reset
