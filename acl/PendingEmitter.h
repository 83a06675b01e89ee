#pragma once

#include <cstdint>
#include <string>

#include "acl/AclEmitter.h"

class CNacHttpClient;

// The walks' rules as requests in the pending request list, with their log lines, and the
// delivery woken for them. Without a dispatcher the requests wait in the pending list.
class PendingEmitter final : public AclEmitter {
 public:
  explicit PendingEmitter(CNacHttpClient* httpClient) : httpClient_(httpClient) {}

  [[nodiscard]] bool ClientRule(const CGwData& gateway, CAclData& acl) override;
  [[nodiscard]] bool NacRule(const CGwData& gateway, CAclData& acl) override;
  [[nodiscard]] bool Reset(const CGwData& gateway, std::int32_t requestClass) override;
  void NacMade(std::int32_t opcode, const CNacData& entry, const std::string& mac, const CGwData& gateway) override;
  [[nodiscard]] bool Wake() override;

 private:
  CNacHttpClient* httpClient_;
};
