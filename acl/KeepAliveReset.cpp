#include "acl/KeepAliveReset.h"

#include <memory>
#include <string>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/PendingEmitter.h"
#include "acl/SnapshotWalk.h"
#include "delivery/NacHttpClient.h"
#include "keepalive/KeepAliveData.h"
#include "list/NacNode.h"
#include "platform/Mutex.h"
#include "request/HttpDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"

namespace {

// A reset and the drop of what waits for the same gateway must not overlap, nor run out of
// the order of their reports: a late drop would take the first requests of a reset made
// after it, the resets among them, and leave the gateway with part of its rules.
platform::Mutex& ReportOrder() {
  static platform::Mutex mutex;
  return mutex;
}

// The oldest request of the list when it was reported before `before`.
std::unique_ptr<CNacNode> UnlinkOlder(CNacList& requests, std::uint64_t before) {
  CNacList::Guard guard(requests);
  const CNacNode* head = requests.GetHead(guard);
  if (head == nullptr || head->RecordAs<CKeepAliveData>()->Sequence() >= before) return nullptr;
  return requests.UnlinkHead(guard);
}

void DropWaiting(const AclContext& context, const CKeepAliveData& stop, CNacList& startRequests);

}  // namespace

void KeepAliveStartProcess(const AclContext& context, CNacList& startRequests, CNacList& stopRequests) {
  while (!context.Ended()) {
    platform::MutexLock order(ReportOrder());
    const std::unique_ptr<CNacNode> request = startRequests.UnlinkHead(false);
    if (!request) return;
    const CKeepAliveData& start = *request->RecordAs<CKeepAliveData>();
    while (const std::unique_ptr<CNacNode> stop = UnlinkOlder(stopRequests, start.Sequence())) {
      DropWaiting(context, *stop->RecordAs<CKeepAliveData>(), startRequests);
    }
    KeepAliveResetSearch(context, start.Address());
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
    platform::MutexLock order(ReportOrder());
    const std::unique_ptr<CNacNode> request = stopRequests.UnlinkHead(false);
    if (!request) return;
    DropWaiting(context, *request->RecordAs<CKeepAliveData>(), startRequests);
  }
}

namespace {

void DropWaiting(const AclContext& context, const CKeepAliveData& stop, CNacList& startRequests) {
  const std::uint32_t address = stop.Address();
  const std::string gateway = FormatIPv4(address);
  {
    // A start request reported after this stop is the gateway's way back: it stays.
    CNacList::Guard guard(startRequests);
    CNacNode* next = nullptr;
    for (CNacNode* node = startRequests.GetHead(guard); node != nullptr; node = next) {
      next = startRequests.GetNext(node, guard);
      const CKeepAliveData& start = *node->RecordAs<CKeepAliveData>();
      if (start.Address() != address || start.Sequence() > stop.Sequence()) continue;
      startRequests.Remove(node, guard);
      SyslogSend(7, "I erased an KeepAliveStart data to GW(%s).", gateway.c_str());
    }
  }
  {
    // By address alone: whatever the port, header and body.
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    CNacNode* next = nullptr;
    for (CNacNode* node = pending.GetHead(guard); node != nullptr && !context.Ended(); node = next) {
      next = pending.GetNext(node, guard);
      const CHttpData& waiting = *node->RecordAs<CHttpData>();
      if (waiting.address != address) continue;
      SyslogSend(7, "I erased an HTTP data to GW(%s:%d).", gateway.c_str(), waiting.port);
      pending.Remove(node, guard);
    }
  }
  if (context.httpClient != nullptr) context.httpClient->EraseHttpQueue(address);
}

}  // namespace
