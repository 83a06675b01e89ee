#pragma once

#include <cstdint>
#include <memory>

#include "registry/GwData.h"
#include "request/HttpData.h"

// One request for gateway, filled as a rule walk makes it: the gateway's address, port and
// credentials, version 1, its address text as the host. acl is the line of a set order
// (count 1), or none for a reset (count 0).
struct MadeRequest {
  std::unique_ptr<CHttpData> request;  // none when it could not be made
  bool objectFailed = false;           // no memory for the request itself
};
MadeRequest MakeRequest(const CGwData& gateway, std::int32_t requestClass, const char* acl);
