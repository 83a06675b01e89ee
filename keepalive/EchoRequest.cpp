#include "keepalive/EchoRequest.h"

#include <cstring>

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;

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

std::array<std::uint8_t, kEchoRequestSize> BuildEchoRequest(std::uint16_t identifier, std::uint32_t tickCount) {
  std::array<std::uint8_t, kEchoRequestSize> request{};
  request[0] = kEchoRequest;
  std::memcpy(&request[4], &identifier, sizeof identifier);
  std::memcpy(&request[8], &tickCount, sizeof tickCount);
  std::memcpy(&request[12], kEchoText, sizeof kEchoText - 1);
  const std::uint16_t checksum = InternetChecksum(request.data(), request.size());
  std::memcpy(&request[2], &checksum, sizeof checksum);
  return request;
}

bool IsEchoAnswer(const std::uint8_t* packet, std::size_t length, std::uint16_t identifier) {
  if (length == 0) return false;
  const std::size_t headerLength = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (length <= headerLength) return false;
  const std::uint8_t* icmp = packet + headerLength;
  const std::size_t icmpLength = length - headerLength;
  if (icmp[0] == kTimeExceeded) return true;
  if (icmp[0] != kEchoReply || icmpLength < 6) return false;
  std::uint16_t replied;
  std::memcpy(&replied, icmp + 4, sizeof replied);
  return replied == identifier;
}
