// Any bytes as a packet of the raw ICMP socket: the test of an answer never reads past
// them (the sanitizer sees every byte beyond the exact-size copy), and never takes a packet
// without ICMP bytes behind its IP header for an answer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keepalive/EchoRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> packet(data, data + size);
  const bool answer = IsEchoAnswer(packet.data(), packet.size(), 0x5A5A);
  if (answer && (size == 0 || size <= static_cast<std::size_t>(packet[0] & 0x0F) * 4)) std::abort();
  return 0;
}
