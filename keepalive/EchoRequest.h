#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The ICMP echo request of a probe and the test of what comes back. Fields are written in
// the host's byte order; the checksum, computed over the same order, is then right on the
// wire, and the identifier comes back in the reply exactly as it was sent.

inline constexpr std::size_t kEchoRequestSize = 76;
inline constexpr char kEchoText[] = "Talvex Networks Inc. Network Access Control System.";

// The Internet checksum of length bytes (a trailing odd byte is added as it is).
std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length);

// Type 8, code 0, the identifier, sequence 0, the tick count and the text, checksum last.
std::array<std::uint8_t, kEchoRequestSize> BuildEchoRequest(std::uint16_t identifier, std::uint32_t tickCount);

// Whether a packet of a raw ICMP socket (IP header first) answers the prober that sends
// with identifier: an echo reply carrying it, or a time-exceeded message from anywhere.
// Reads nothing beyond length; a packet too short to tell is no answer.
bool IsEchoAnswer(const std::uint8_t* packet, std::size_t length, std::uint16_t identifier);
