#include "acl/CollectingEmitter.h"

#include "acl/RequestMaker.h"
#include "request/HttpDataList.h"

bool CollectingEmitter::ClientRule(const CGwData& gateway, CAclData& acl) {
  return acl.MakeAcl() == 0 && Keep(gateway, CHttpDataList::kClient, acl.text.c_str());
}

bool CollectingEmitter::NacRule(const CGwData& gateway, CAclData& acl) {
  return acl.MakeAcl() == 0 && Keep(gateway, CHttpDataList::kQuarantine, acl.text.c_str());
}

bool CollectingEmitter::Reset(const CGwData& gateway, std::int32_t requestClass) {
  return Keep(gateway, requestClass, nullptr);
}

bool CollectingEmitter::Keep(const CGwData& gateway, std::int32_t requestClass, const char* acl) {
  const MadeRequest made = MakeRequest(gateway, requestClass, acl);
  if (!made.request) return false;
  requests_.push_back(*made.request);
  return true;
}
