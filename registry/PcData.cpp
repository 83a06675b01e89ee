#include "registry/PcData.h"

#include <cstdint>

#include "registry/RecordText.h"
#include "support/AddressParse.h"
#include "support/FixedPool.h"

namespace {

// Never destroyed: the process-wide registry gives its records back at exit.
FixedPool& RecordPool() {
  static FixedPool* const pool = new FixedPool(sizeof(CPcData));
  return *pool;
}

}  // namespace

CPcData::~CPcData() = default;

void* CPcData::operator new(std::size_t /*size*/) { return RecordPool().Allocate(); }

void CPcData::operator delete(void* record) noexcept { RecordPool().Free(record); }

CPcData& CPcData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

bool CPcData::SetMac(const char* text) { return SetMacText(macText, mac, text); }

bool CPcData::SetSource(const char* text) { return SetAddressText(sourceText, source, text); }

bool CPcData::SetNetwork(const char* text) { return SetAddressText(networkText, network, text); }

bool CPcData::SetNetmask(const char* text) {
  if (!SetAddressText(netmaskText, netmask, text)) return false;
  // What MaskToPrefix would accept, read from the value already parsed: ones, then zeros.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&netmask);
  const std::uint32_t hostOrder = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                                  std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
  const std::uint32_t zeros = ~hostOrder;
  if ((zeros & (zeros + 1)) == 0) return true;
  netmask = 0;
  return false;
}

void CPcData::NormalizeMac() {
  // A text that is already the stored form of the bytes (every PC a registry file gives
  // back) would be parsed and written again unchanged.
  if (IsFormattedMac(macText.data(), macText.size(), mac.data())) return;
  // False for a record without MAC, which stays without; a MAC was checked when set.
  (void)NormalizeMacText(macText, mac);
}
