#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The ICMP echo request of a probe and the reading of what comes back. Fields are written
// in the host's byte order; the checksum, computed over the same order, is then right on
// the wire, and identifier and sequence come back in the reply exactly as they were sent.

inline constexpr std::size_t kEchoRequestSize = 76;
inline constexpr char kEchoText[] = "Talvex Networks Inc. Network Access Control System.";
// The data of a request through the ICMP datagram socket: the text's first four bytes.
inline constexpr std::size_t kDatagramDataSize = 4;
inline constexpr std::size_t kIcmpHeaderSize = 8;

// The Internet checksum of length bytes (a trailing odd byte is added as it is).
std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length);

// Type 8, code 0, the identifier, the sequence, the tick count and the text, checksum last.
std::array<std::uint8_t, kEchoRequestSize> BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                                            std::uint32_t tickCount);

// The request of the datagram socket: header with the sequence (the kernel writes the
// identifier and the checksum), then the four data bytes.
std::array<std::uint8_t, kIcmpHeaderSize + kDatagramDataSize> BuildDatagramRequest(std::uint16_t sequence);

// What an answer names: the request it answers.
struct EchoKey {
  std::uint16_t identifier;
  std::uint16_t sequence;
};

// A packet of the raw ICMP socket (IP header first) that answers a request: an echo reply,
// or a time-exceeded message from anywhere, which quotes the IP header and the first eight
// bytes of the request that died on the way. Gives the identifier and sequence of that
// request; none for any other packet or one too short to tell. Reads nothing beyond length.
std::optional<EchoKey> ReadRawAnswer(const std::uint8_t* packet, std::size_t length);

// A packet of the ICMP datagram socket (no IP header): the sequence of an echo reply.
std::optional<std::uint16_t> ReadDatagramAnswer(const std::uint8_t* packet, std::size_t length);
