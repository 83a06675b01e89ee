#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acl/AclEmitter.h"
#include "request/HttpData.h"

// The requests a walk would queue, kept in a list instead: nothing is queued, sent or logged.
class CollectingEmitter final : public AclEmitter {
 public:
  explicit CollectingEmitter(std::vector<CHttpData>& requests) : requests_(requests) {}

  [[nodiscard]] bool ClientRule(const CGwData& gateway, CAclData& acl) override;
  [[nodiscard]] bool NacRule(const CGwData& gateway, CAclData& acl) override;
  [[nodiscard]] bool Reset(const CGwData& gateway, std::int32_t requestClass) override;
  void NacMade(std::int32_t, const CNacData&, const std::string&, const CGwData&) override {}
  [[nodiscard]] bool Wake() override { return true; }

 private:
  [[nodiscard]] bool Keep(const CGwData& gateway, std::int32_t requestClass, const char* acl);

  std::vector<CHttpData>& requests_;
};
