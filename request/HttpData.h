#pragma once

#include <cstdint>
#include <string>

#include "list/NacListItem.h"

// One prepared request to a gateway: the whole header and the body, sent exactly as they
// are, and the gateway they are for. Held by the pending request list and by the senders'
// queues, which own it.
class CHttpData final : public CNacListItem {
 public:
  void Assign(const CHttpData& other) { *this = other; }
  // Equal in gateway (address and port) and in header and body, byte for byte.
  bool operator==(const CHttpData& other) const {
    return address == other.address && port == other.port && header == other.header && body == other.body;
  }

  std::string header;
  std::string body;
  std::uint32_t address = 0;  // network byte order: its bytes in memory are a.b.c.d
  std::uint16_t port = 0;
};
