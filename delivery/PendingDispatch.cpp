#include "delivery/PendingDispatch.h"

#include <cstdint>
#include <unordered_set>

#include "list/NacNode.h"
#include "support/Syslog.h"

void DispatchPending(CHttpDataList& pending, const std::atomic<int>& end,
                     const std::function<bool(std::unique_ptr<CHttpData>&)>& place) {
  CNacList::Guard guard(pending);
  std::unordered_set<std::uint32_t> waiting;
  CNacNode* next = nullptr;
  for (CNacNode* node = pending.GetHead(guard); node != nullptr && end.load() == 0; node = next) {
    next = pending.GetNext(node, guard);
    const std::uint32_t address = node->RecordAs<CHttpData>()->address;
    if (waiting.contains(address)) continue;
    bool placed = false;
    try {
      auto copy = std::make_unique<CHttpData>();
      copy->Assign(*node->RecordAs<CHttpData>());
      placed = place(copy);
    } catch (...) {
      SyslogSend(2, "Abnormality occurred at the time of HTTP transmission of a message setting.");
    }
    if (placed) {
      pending.Remove(node, guard);
    } else {
      waiting.insert(address);
    }
  }
}
