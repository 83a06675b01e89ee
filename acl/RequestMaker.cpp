#include "acl/RequestMaker.h"

#include <new>

#include "request/HttpDataList.h"

MadeRequest MakeRequest(const CGwData& gateway, std::int32_t requestClass, const char* acl) {
  MadeRequest made;
  try {
    made.request = std::make_unique<CHttpData>();
  } catch (const std::bad_alloc&) {
    made.objectFailed = true;
    return made;
  }
  made.request->address = gateway.address;
  made.request->port = gateway.port;
  const std::int32_t opcode = acl != nullptr ? CHttpDataList::kSet : CHttpDataList::kReset;
  if (CHttpDataList::MakeHttpData(*made.request, gateway.user, gateway.password, 1, requestClass, opcode,
                                  acl != nullptr ? 1 : 0, acl, gateway.addressText) == 0) {
    made.request.reset();
  }
  return made;
}
