#include "keepalive/EchoRequest.h"

#include <cstring>

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;

// The IP header's length from its first byte; 0 when the packet has no room for it.
std::size_t IpHeaderLength(const std::uint8_t* packet, std::size_t length) {
  if (length == 0) return 0;
  const std::size_t header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  return header < 20 || header > length ? 0 : header;
}

EchoKey KeyAt(const std::uint8_t* icmp) {
  EchoKey key;
  std::memcpy(&key.identifier, icmp + 4, sizeof key.identifier);
  std::memcpy(&key.sequence, icmp + 6, sizeof key.sequence);
  return key;
}

}  // namespace

std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  std::size_t at = 0;
  for (; at + 1 < length; at += 2) {
    std::uint16_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    sum += word;
  }
  if (at < length) sum += bytes[at];
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::array<std::uint8_t, kEchoRequestSize> BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                                            std::uint32_t tickCount) {
  std::array<std::uint8_t, kEchoRequestSize> request{};
  request[0] = kEchoRequest;
  std::memcpy(&request[4], &identifier, sizeof identifier);
  std::memcpy(&request[6], &sequence, sizeof sequence);
  std::memcpy(&request[8], &tickCount, sizeof tickCount);
  std::memcpy(&request[12], kEchoText, sizeof kEchoText - 1);
  const std::uint16_t checksum = InternetChecksum(request.data(), request.size());
  std::memcpy(&request[2], &checksum, sizeof checksum);
  return request;
}

std::array<std::uint8_t, kIcmpHeaderSize + kDatagramDataSize> BuildDatagramRequest(std::uint16_t sequence) {
  std::array<std::uint8_t, kIcmpHeaderSize + kDatagramDataSize> request{};
  request[0] = kEchoRequest;
  std::memcpy(&request[6], &sequence, sizeof sequence);
  std::memcpy(&request[kIcmpHeaderSize], kEchoText, kDatagramDataSize);
  return request;
}

std::optional<EchoKey> ReadRawAnswer(const std::uint8_t* packet, std::size_t length) {
  const std::size_t header = IpHeaderLength(packet, length);
  if (header == 0 || length - header < kIcmpHeaderSize) return std::nullopt;
  const std::uint8_t* icmp = packet + header;
  if (icmp[0] == kEchoReply) return KeyAt(icmp);
  if (icmp[0] != kTimeExceeded) return std::nullopt;
  // The quote: the request's IP header, then its ICMP header.
  const std::uint8_t* quoted = icmp + kIcmpHeaderSize;
  const std::size_t quotedLength = length - header - kIcmpHeaderSize;
  const std::size_t quotedHeader = IpHeaderLength(quoted, quotedLength);
  if (quotedHeader == 0 || quotedLength - quotedHeader < kIcmpHeaderSize) return std::nullopt;
  if (quoted[quotedHeader] != kEchoRequest) return std::nullopt;
  return KeyAt(quoted + quotedHeader);
}

std::optional<std::uint16_t> ReadDatagramAnswer(const std::uint8_t* packet, std::size_t length) {
  if (length < kIcmpHeaderSize || packet[0] != kEchoReply) return std::nullopt;
  return KeyAt(packet).sequence;
}
