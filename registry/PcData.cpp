#include "registry/PcData.h"

#include "registry/RecordText.h"
#include "support/AddressParse.h"

CPcData::~CPcData() = default;

CPcData& CPcData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

bool CPcData::SetMac(const char* text) { return SetMacText(macText, mac, text); }

bool CPcData::SetSource(const char* text) { return SetAddressText(sourceText, source, text); }

bool CPcData::SetNetwork(const char* text) { return SetAddressText(networkText, network, text); }

bool CPcData::SetNetmask(const char* text) {
  if (!SetAddressText(netmaskText, netmask, text)) return false;
  if (netmaskText.empty() || MaskToPrefix(netmaskText.c_str()) >= 0) return true;
  netmask = 0;
  return false;
}

void CPcData::NormalizeMac() {
  // False for a record without MAC, which stays without; a MAC was checked when set.
  (void)NormalizeMacText(macText, mac);
}
