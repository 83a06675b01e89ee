#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "list/NacListItem.h"

// The header of a request in two parts around the body's length: everything before the
// length's digits, and everything after them. Every request to one gateway carries the same
// parts, so a queue of thousands holds them once.
struct HeaderParts {
  std::string head;
  std::string tail;
  bool operator==(const HeaderParts&) const = default;
};

// One prepared request to a gateway: the header and the body, sent exactly as they are, and
// the gateway they are for. Held by the pending request list and by the delivery's queues,
// which own it.
class CHttpData final : public CNacListItem {
 public:
  void Assign(const CHttpData& other) { *this = other; }
  // Equal in gateway (address and port) and in header and body, byte for byte.
  bool operator==(const CHttpData& other) const {
    return address == other.address && port == other.port && body == other.body && SameHeader(other);
  }

  // The whole header as it goes on the wire: the shared parts around the body's length.
  std::string Header() const;
  // A header given whole (no length of its own inside it).
  void SetHeader(std::string text);
  void SetHeader(std::shared_ptr<const HeaderParts> parts) {
    header_ = std::move(parts);
    lengthInside_ = true;
  }
  const std::shared_ptr<const HeaderParts>& Parts() const { return header_; }

  std::string body;
  std::uint32_t address = 0;  // network byte order: its bytes in memory are a.b.c.d
  std::uint16_t port = 0;

 private:
  bool SameHeader(const CHttpData& other) const;

  // None until a header is made; a whole header given as text has an empty tail and no
  // length between.
  std::shared_ptr<const HeaderParts> header_;
  bool lengthInside_ = true;
};
