#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "registry/NacRecord.h"

// One client PC (by MAC, optionally with its address) or one client network (by network
// and netmask). A value is given when its text is not empty; a value not given is zero.
// Addresses are held as their four bytes in network order, read as one 32-bit value, so
// that masking and comparing work on them directly.
//
// The addresses must not change while the record is in a registry: the registry's index
// files the record under them.
class CPcData final : public CNacRecord {
 public:
  CPcData() = default;
  CPcData(const CPcData& other) = default;
  CPcData& operator=(const CPcData& other) = default;
  // Copies every field when other is a CPcData, else only the flags.
  CPcData& operator=(const CNacRecord& other) override;
  ~CPcData() override;

  // Records come from a pool of their own (support/FixedPool.h): a registry may hold
  // 100,000 of them.
  static void* operator new(std::size_t size);
  static void operator delete(void* record) noexcept;

  bool HasMac() const { return !macText.empty(); }
  bool HasSource() const { return !sourceText.empty(); }
  bool HasNetwork() const { return !networkText.empty(); }
  bool HasNetmask() const { return !netmaskText.empty(); }

  // Each stores the text and, when it is valid, its value; an empty text is valid and
  // gives zero, an invalid one leaves the value zero and gives false. A netmask must be
  // contiguous ones followed by zeros.
  [[nodiscard]] bool SetMac(const char* text);
  [[nodiscard]] bool SetSource(const char* text);
  [[nodiscard]] bool SetNetwork(const char* text);
  [[nodiscard]] bool SetNetmask(const char* text);

  // Rewrites a MAC text that parses as "00:11:22:AA:BB:CC", taking its bytes; an empty or
  // unparsable text is left as it is.
  void NormalizeMac();

  // The values first, next to the flags: the searches and the index read them, and they
  // share a cache line there. The record is no larger for it.
  std::uint32_t source = 0;
  std::uint32_t network = 0;
  std::uint32_t netmask = 0;
  std::array<std::uint8_t, 6> mac{};
  std::string macText;
  std::string sourceText;
  std::string networkText;
  std::string netmaskText;
};
