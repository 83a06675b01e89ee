#include "acl/KeepAliveReset.h"

#include <memory>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/PendingEmitter.h"
#include "acl/SnapshotWalk.h"
#include "delivery/NacHttpClient.h"
#include "keepalive/KeepAliveData.h"
#include "list/NacNode.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"

void KeepAliveStartProcess(const AclContext& context, CNacList& startRequests) {
  while (!context.Ended()) {
    const std::unique_ptr<CNacNode> request = startRequests.UnlinkHead(false);
    if (!request) return;
    KeepAliveResetSearch(context, request->RecordAs<CKeepAliveData>()->Address());
  }
}

void KeepAliveResetSearch(const AclContext& context, std::uint32_t address) {
  PendingEmitter emitter(context.httpClient);
  KeepAliveResetSearch(context, address, emitter);
}

void KeepAliveResetSearch(const AclContext& context, std::uint32_t address, AclEmitter& emitter) {
  AclView view;
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (context.Ended()) return false;
    if (!gateway.IsLive() || gateway.on == 0 || gateway.resetPending == 0 || gateway.address != address) return true;
    ResetRules(emitter, view, gateway, context.endFlag);
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard held(gateways);
    if (CGwData* live = gateways.FindLive(gateway, held)) {
      live->resetPending = 0;
      live->added = 0;
    }
    return true;
  });
}

void KeepAliveStopProcess(const AclContext& context, CNacList& stopRequests, CNacList& startRequests) {
  while (!context.Ended()) {
    const std::unique_ptr<CNacNode> request = stopRequests.UnlinkHead(false);
    if (!request) return;
    const std::uint32_t address = request->RecordAs<CKeepAliveData>()->Address();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    {
      CNacList::Guard guard(startRequests);
      CNacNode* next = nullptr;
      for (CNacNode* node = startRequests.GetHead(true); node != nullptr; node = next) {
        next = startRequests.GetNext(node, true);
        if (node->RecordAs<CKeepAliveData>()->Address() != address) continue;
        startRequests.Remove(node, true);
        SyslogSend(7, "I erased an KeepAliveStart data to GW(%d.%d.%d.%d).", bytes[0], bytes[1], bytes[2], bytes[3]);
      }
    }
    {
      // By address alone: whatever the port, header and body.
      CHttpDataList& pending = GetPendingHttpDataList();
      CNacList::Guard guard(pending);
      CNacNode* next = nullptr;
      for (CNacNode* node = pending.GetHead(true); node != nullptr && !context.Ended(); node = next) {
        next = pending.GetNext(node, true);
        const CHttpData& waiting = *node->RecordAs<CHttpData>();
        if (waiting.address != address) continue;
        SyslogSend(7, "I erased an HTTP data to GW(%d.%d.%d.%d:%d).", bytes[0], bytes[1], bytes[2], bytes[3],
                   waiting.port);
        pending.Remove(node, true);
      }
    }
    if (context.httpClient != nullptr) context.httpClient->EraseHttpQueue(address);
  }
}
