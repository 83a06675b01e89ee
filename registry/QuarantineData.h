#pragma once

#include <cstdint>
#include <string>

#include "registry/NacRecord.h"

// One quarantine server: a service (address, protocol, port) that PCs must still reach
// while they are not admitted. The address is its four bytes in network order held as one
// value.
class CQuarantineData final : public CNacRecord {
 public:
  CQuarantineData() = default;
  CQuarantineData(const CQuarantineData&) = default;
  CQuarantineData& operator=(const CQuarantineData&) = default;
  // Copies every field when other is a CQuarantineData, else only the flags.
  CQuarantineData& operator=(const CNacRecord& other) override;
  ~CQuarantineData() override;

  // Each stores the text and, when it is valid, its value; an empty text is valid and
  // gives zero, an invalid one leaves the value zero and gives false. A port is 1 to
  // 65535 written in digits only.
  [[nodiscard]] bool SetSource(const char* text);
  [[nodiscard]] bool SetPort(const char* text);

  std::string sourceText;
  std::string protocol;  // "tcp" or "udp"
  std::string portText;  // as given: "080" and "80" are different servers
  std::uint32_t source = 0;
  std::uint16_t port = 0;
};
