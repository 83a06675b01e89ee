#include "acl/GatewayRuleSet.h"

#include <atomic>

#include "acl/AclRules.h"
#include "acl/AclView.h"
#include "acl/RequestMaker.h"
#include "acl/SnapshotWalk.h"
#include "list/NacNode.h"
#include "request/HttpDataList.h"

namespace {

// The requests a reset would queue, kept in a list instead.
class CollectingEmitter final : public AclEmitter {
 public:
  explicit CollectingEmitter(std::vector<CHttpData>& requests) : requests_(requests) {}

  bool ClientRule(const CGwData& gateway, CAclData& acl) override {
    return acl.MakeAcl() == 0 && Keep(MakeRequest(gateway, CHttpDataList::kClient, acl.text.c_str()));
  }
  bool NacRule(const CGwData& gateway, CAclData& acl) override {
    return acl.MakeAcl() == 0 && Keep(MakeRequest(gateway, CHttpDataList::kQuarantine, acl.text.c_str()));
  }
  bool Reset(const CGwData& gateway, std::int32_t requestClass) override {
    return Keep(MakeRequest(gateway, requestClass, nullptr));
  }
  void NacMade(std::int32_t, const CNacData&, const std::string&, const CGwData&) override {}
  bool Wake() override { return true; }

 private:
  bool Keep(const MadeRequest& made) {
    if (!made.request) return false;
    requests_.push_back(*made.request);
    return true;
  }

  std::vector<CHttpData>& requests_;
};

}  // namespace

std::vector<CHttpData> GatewayRuleSet(std::uint32_t address) {
  std::vector<CHttpData> requests;
  AclView view;
  CollectingEmitter emitter(requests);
  const std::atomic<int> never{0};
  WalkSnapshot<CGwData>(view.Gateways(), [&](CGwData& gateway) {
    if (!gateway.IsLive() || gateway.address != address) return true;
    ResetRules(emitter, view, gateway, never);
    return false;
  });
  return requests;
}
