#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "registry/NacRecord.h"

// One NAC entry: the traffic of one source address, optionally bound to one MAC address,
// is accepted or dropped. The source is its four bytes in network order held as one value.
class CNacData final : public CNacRecord {
 public:
  static constexpr std::int32_t kAccept = 1;
  static constexpr std::int32_t kDrop = 2;

  CNacData() = default;
  CNacData(const CNacData&) = default;
  CNacData& operator=(const CNacData&) = default;
  // Copies every field when other is a CNacData, else only the flags.
  CNacData& operator=(const CNacRecord& other) override;
  ~CNacData() override;

  // Each stores the text and, when it is valid, its value; an empty text is valid and
  // gives zero, an invalid one leaves the value zero and gives false.
  [[nodiscard]] bool SetMac(const char* text);
  [[nodiscard]] bool SetSource(const char* text);

  // All-zero bytes count as no MAC, however the text was given.
  bool HasMac() const;

  std::string macText;                // canonical once stored; empty when not given
  std::string sourceText;             // required
  std::int32_t target = 0;            // kAccept or kDrop
  std::uint32_t source = 0;
  std::array<std::uint8_t, 6> mac{};  // all zero when not given
};
