#include "acl/NacCommandProcess.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/PendingEmitter.h"
#include "acl/SnapshotWalk.h"
#include "list/NacNode.h"

namespace {

enum class Passes {
  kOne,   // an added record gets its add pass only; its delete pass comes with the next change
  kBoth,  // both, in one walk
};

// The change walk: every record of the snapshot with its added flag gets fan(record, add),
// then its flag cleared in the registry; one with its deleted flag fan(record, delete),
// then it is erased from the registry. Records with neither flag are passed over.
template <class Record, class Registry, class Fan>
void ChangeWalk(const AclContext& context, CNacList& snapshot, Registry& registry, Passes passes, Fan fan) {
  WalkSnapshot<Record>(snapshot, [&](const Record& record) {
    if (context.Ended()) return false;
    if (record.added != 0) {
      if (!fan(record, CAclData::kAdd)) return true;
      CNacList::Guard held(registry);
      if (Record* live = registry.FindAdded(record, held)) live->added = 0;
      if (passes == Passes::kOne) return true;
    }
    if (record.deleted != 0) {
      if (!fan(record, CAclData::kDelete)) return true;
      CNacList::Guard held(registry);
      if (Record* gone = registry.FindDeleted(record, held)) registry.RemoveData(gone, held);
    }
    return true;
  });
}

// Calls visit for every live gateway of the view that is ON.
template <class Visit>
void ForEachOnGateway(const AclContext& context, AclView& view, Visit visit) {
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (context.Ended()) return false;
    if (gateway.IsLive() && gateway.on != 0) visit(gateway);
    return true;
  });
}

// Calls visit for every live route of gateway, or once with none when it has no route at
// all (withdrawn ones count as routes).
template <class Visit>
void ForEachRouteOrNone(const AclContext& context, CGwData& gateway, Visit visit) {
  CGwrouteDataList& routes = gateway.Routes();
  if (routes.IsEmpty(false)) {
    visit(nullptr);
    return;
  }
  WalkSnapshot<CGwrouteData>(routes, [&](const CGwrouteData& route) {
    if (context.Ended()) return false;
    if (route.IsLive()) visit(&route);
    return true;
  });
}

}  // namespace

namespace {

// Whether any gateway's route list holds a change.
bool RoutesChanged() {
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
    if (node->RecordAs<CGwData>()->Routes().HasChanges()) return true;
  }
  return false;
}

// A walk takes every change made by the time it starts: one that finds nothing left skips
// the snapshots a walk would take.
bool Changed(CommandId commandId) {
  switch (commandId) {
    case CommandId::kNac:
      return GetNacDataList().HasChanges();
    case CommandId::kGw:
      return GetGwDataList().HasChanges();
    case CommandId::kGwroute:
      return RoutesChanged();
    case CommandId::kPc:
      return GetPcDataList().HasChanges();
    case CommandId::kQuarantine:
      return GetQuarantineDataList().HasChanges();
    default:
      return false;
  }
}

}  // namespace

void NacCommandProcess(const AclContext& context, CommandId commandId, std::int32_t /*value*/) {
  if (!Changed(commandId)) return;
  switch (commandId) {
    case CommandId::kNac:
      NacCommandNacChange(context);
      break;
    case CommandId::kGw:
      NacCommandGwChange(context);
      break;
    case CommandId::kGwroute:
      NacCommandGwrouteChange(context);
      break;
    case CommandId::kPc:
      NacCommandPcChange(context);
      break;
    case CommandId::kQuarantine:
      NacCommandQuarantineChange(context);
      break;
    default:
      break;  // service, and anything else, changes no rule
  }
}

void NacCommandNacChange(const AclContext& context) {
  PendingEmitter emitter(context.httpClient);
  NacCommandNacChange(context, emitter);
}

void NacCommandNacChange(const AclContext& context, AclEmitter& emitter) {
  AclView view;
  ChangeWalk<CNacData>(context, view.NacSnapshot(), GetNacDataList(), Passes::kOne,
                       [&](const CNacData& entry, std::int32_t opcode) {
                         ForEachOnGateway(context, view, [&](CGwData& gateway) {
                           ForEachRouteOrNone(context, gateway, [&](const CGwrouteData* route) {
                             for (const CPcData* pc : view.PcsFor(entry, route)) {
                               if (context.Ended()) return;
                               NacCommandAclQuarantineProcess(emitter, entry, gateway, route, *pc, opcode);
                             }
                           });
                         });
                         return true;
                       });
}

void NacCommandGwChange(const AclContext& context) {
  PendingEmitter emitter(context.httpClient);
  NacCommandGwChange(context, emitter);
}

void NacCommandGwChange(const AclContext& context, AclEmitter& emitter) {
  AclView view;
  ChangeWalk<CGwData>(context, view.Gateways(), GetGwDataList(), Passes::kOne,
                      [&](const CGwData& changed, std::int32_t opcode) {
                        // A gateway that is OFF keeps its flags: the reset sends it everything.
                        if (changed.on == 0) return false;
                        GatewayFanOut(emitter, view, const_cast<CGwData&>(changed), opcode, context.endFlag);
                        return true;
                      });
}

void NacCommandGwrouteChange(const AclContext& context) {
  PendingEmitter emitter(context.httpClient);
  NacCommandGwrouteChange(context, emitter);
}

void NacCommandGwrouteChange(const AclContext& context, AclEmitter& emitter) {
  AclView view;
  CGwDataList& gateways = GetGwDataList();
  ForEachOnGateway(context, view, [&](CGwData& gateway) {
    WalkSnapshot<CGwrouteData>(gateway.Routes(), [&](const CGwrouteData& route) {
      if (context.Ended()) return false;
      const bool added = route.added != 0;
      if (!added && route.deleted == 0) return true;
      PcFanOut(emitter, view, gateway, &route, added ? CAclData::kAdd : CAclData::kDelete, context.endFlag);
      // The gateway registry's lock before the route list's.
      CNacList::Guard gatewayLock(gateways);
      CGwData* live = gateways.FindLive(gateway, gatewayLock);
      if (live == nullptr) return true;
      CGwrouteDataList& liveRoutes = live->Routes();
      CNacList::Guard routeLock(liveRoutes);
      if (added) {
        if (CGwrouteData* found = liveRoutes.FindAdded(route, routeLock)) found->added = 0;
      } else if (CGwrouteData* found = liveRoutes.FindDeleted(route, routeLock)) {
        liveRoutes.RemoveData(found, routeLock);
      }
      return true;
    });
  });
}

void NacCommandPcChange(const AclContext& context) {
  PendingEmitter emitter(context.httpClient);
  NacCommandPcChange(context, emitter);
}

void NacCommandPcChange(const AclContext& context, AclEmitter& emitter) {
  AclView view;
  ChangeWalk<CPcData>(context, view.PcSnapshot(), GetPcDataList(), Passes::kOne,
                      [&](const CPcData& pc, std::int32_t opcode) {
                        ForEachOnGateway(context, view, [&](CGwData& gateway) {
                          ForEachRouteOrNone(context, gateway, [&](const CGwrouteData* route) {
                            // Where the PC gets no rule, its combinations make nothing.
                            if (AclView::Behind(route, pc)) {
                              QuarantineFanOut(emitter, view, gateway, route, pc, opcode, context.endFlag);
                            }
                          });
                        });
                        return true;
                      });
}

void NacCommandQuarantineChange(const AclContext& context) {
  PendingEmitter emitter(context.httpClient);
  NacCommandQuarantineChange(context, emitter);
}

void NacCommandQuarantineChange(const AclContext& context, AclEmitter& emitter) {
  AclView view;
  // Every (PC, gateway, route) that can get a rule, in the order of the walk: PCs outer,
  // then gateways, then routes. A gateway without routes takes part with no route, as at
  // every other change and at its reset, so that a new server reaches PCs known by their
  // MAC alone behind it too.
  struct Combination {
    std::size_t pc;
    std::size_t gateway;
    std::size_t route;
    CGwData* gatewayRecord;
    const CGwrouteData* routeRecord;
  };
  std::vector<Combination> combinations;
  std::size_t gatewayIndex = 0;
  ForEachOnGateway(context, view, [&](CGwData& gateway) {
    std::size_t routeIndex = 0;
    ForEachRouteOrNone(context, gateway, [&](const CGwrouteData* route) {
      for (std::size_t pc : view.PcPositionsBehind(route)) {
        combinations.push_back({pc, gatewayIndex, routeIndex, &gateway, route});
      }
      ++routeIndex;
    });
    ++gatewayIndex;
  });
  std::sort(combinations.begin(), combinations.end(), [](const Combination& a, const Combination& b) {
    return std::tie(a.pc, a.gateway, a.route) < std::tie(b.pc, b.gateway, b.route);
  });
  ChangeWalk<CQuarantineData>(context, view.ServerSnapshot(), GetQuarantineDataList(), Passes::kBoth,
                              [&](const CQuarantineData& server, std::int32_t opcode) {
                                for (const Combination& c : combinations) {
                                  if (context.Ended()) break;
                                  NacCommandAclClientProcess(emitter, view, *c.gatewayRecord, c.routeRecord,
                                                             view.PcAt(c.pc), server, opcode);
                                }
                                return true;
                              });
}
