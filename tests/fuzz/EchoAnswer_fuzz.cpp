// Any bytes as a packet of the raw or of the datagram ICMP socket: the reading of an answer
// never reads past them (the sanitizer sees every byte beyond the exact-size copy), and
// never takes a packet for an answer without a whole ICMP header behind its IP header, nor
// a time-exceeded message without a whole echo request header in its quote.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keepalive/EchoRequest.h"

namespace {

std::size_t HeaderLength(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::size_t>(bytes[at] & 0x0F) * 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> packet(data, data + size);
  if (ReadRawAnswer(packet.data(), packet.size())) {
    const std::size_t header = HeaderLength(packet, 0);
    if (header < 20 || size < header + kIcmpHeaderSize) std::abort();
    const std::uint8_t type = packet[header];
    if (type == 11) {
      const std::size_t quote = header + kIcmpHeaderSize;
      if (size <= quote) std::abort();
      const std::size_t quoted = HeaderLength(packet, quote);
      if (quoted < 20 || size < quote + quoted + kIcmpHeaderSize || packet[quote + quoted] != 8) std::abort();
    } else if (type != 0) {
      std::abort();
    }
  }
  if (ReadDatagramAnswer(packet.data(), packet.size()) && (size < kIcmpHeaderSize || packet[0] != 0)) std::abort();
  return 0;
}
