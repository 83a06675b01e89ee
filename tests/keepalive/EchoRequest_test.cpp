// The probe's packets, the reading of what comes back, and the ping mode.

#include "keepalive/EchoRequest.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "keepalive/IcmpSocket.h"
#include "tests/common/TempDir.h"

namespace {

// Fields in the host's byte order, the text behind them, zeros to the end; the checksum
// makes the whole sum to zero, which is what the receiver checks.
TEST(EchoRequestTest, IsTheRequestOfTheWireWithAChecksumThatSumsToZero) {
  const auto request = BuildEchoRequest(0x1234, 0x0102, 0xAABBCCDD);
  std::array<std::uint8_t, 76> expected{8, 0, request[2], request[3]};
  const struct {
    std::uint16_t identifier = 0x1234, sequence = 0x0102;
    std::uint32_t ticks = 0xAABBCCDD;
  } fields;
  std::memcpy(&expected[4], &fields, 8);
  std::memcpy(&expected[12], "Talvex Networks Inc. Network Access Control System.", 51);
  EXPECT_EQ(request, expected);
  EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
  // The textbook example: words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
  const std::uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  const std::uint16_t checksum = InternetChecksum(sample, sizeof sample);
  EXPECT_EQ(std::memcmp(&checksum, "\x22\x0d", 2), 0);
  const std::uint8_t odd[] = {0x01};
  EXPECT_EQ(InternetChecksum(odd, 1), static_cast<std::uint16_t>(~0x0001));

  const auto datagram = BuildDatagramRequest(0x0102);
  const std::array<std::uint8_t, 12> datagramExpected{8, 0, 0, 0, 0, 0, 0x02, 0x01, 'T', 'a', 'l', 'v'};
  EXPECT_EQ(datagram, datagramExpected);
}

// An IPv4 header of ihl words (first byte 0x40 | ihl), then the bytes given.
std::vector<std::uint8_t> Packet(int ihl, std::vector<std::uint8_t> rest) {
  std::vector<std::uint8_t> packet(static_cast<std::size_t>(ihl) * 4, 0);
  packet[0] = static_cast<std::uint8_t>(0x40 | ihl);
  packet.insert(packet.end(), rest.begin(), rest.end());
  return packet;
}

// A time-exceeded message quoting an IP header of ihl words and then the bytes given.
std::vector<std::uint8_t> TimeExceeded(int ihl, std::vector<std::uint8_t> quotedIcmp) {
  std::vector<std::uint8_t> icmp{11, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<std::uint8_t> quoted = Packet(ihl, quotedIcmp);
  icmp.insert(icmp.end(), quoted.begin(), quoted.end());
  return Packet(5, icmp);
}

TEST(EchoRequestTest, AnAnswerNamesTheRequestItAnswersAndNothingElseIsOne) {
  // Identifier 0x4321 and sequence 7, as they travel.
  const std::uint8_t id0 = 0x21, id1 = 0x43, seq0 = 7, seq1 = 0;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> packet;
    bool answer;
  } cases[] = {
      {"an echo reply", Packet(5, {0, 0, 0, 0, id0, id1, seq0, seq1}), true},
      {"a reply behind IP options", Packet(6, {0, 0, 0, 0, id0, id1, seq0, seq1}), true},
      {"time exceeded, quoting the request", TimeExceeded(5, {8, 0, 0, 0, id0, id1, seq0, seq1}), true},
      {"time exceeded, quoting behind options", TimeExceeded(7, {8, 0, 0, 0, id0, id1, seq0, seq1}), true},
      {"time exceeded, quote cut short", TimeExceeded(5, {8, 0, 0, 0, id0, id1, seq0}), false},
      {"time exceeded about something else", TimeExceeded(5, {17, 0, 0, 0, id0, id1, seq0, seq1}), false},
      {"time exceeded without a quote", Packet(5, {11, 0, 0, 0, 0, 0, 0, 0}), false},
      {"a request seen on the way", Packet(5, {8, 0, 0, 0, id0, id1, seq0, seq1}), false},
      {"unreachable", Packet(5, {3, 1, 0, 0, 0, 0, 0, 0, 0x45}), false},
      {"a reply cut before its sequence", Packet(5, {0, 0, 0, 0, id0, id1, seq0}), false},
      {"an IP header longer than the packet", Packet(5, {0, 0, 0, 0, id0, id1, seq0, seq1}), false},
  };
  cases[std::size(cases) - 1].packet[0] = 0x4F;
  for (const Case& c : cases) {
    const std::optional<EchoKey> key = ReadRawAnswer(c.packet.data(), c.packet.size());
    ASSERT_EQ(key.has_value(), c.answer) << c.what;
    if (!key) continue;
    EXPECT_EQ(key->identifier, 0x4321) << c.what;
    EXPECT_EQ(key->sequence, 7) << c.what;
  }

  const std::vector<std::uint8_t> datagramReply{0, 0, 0, 0, 0x99, 0x99, seq0, seq1, 'T', 'a', 'l', 'v'};
  EXPECT_EQ(ReadDatagramAnswer(datagramReply.data(), datagramReply.size()), 7);
  const std::vector<std::uint8_t> datagramRequest{8, 0, 0, 0, 0x99, 0x99, seq0, seq1};
  EXPECT_FALSE(ReadDatagramAnswer(datagramRequest.data(), datagramRequest.size()));
  EXPECT_FALSE(ReadDatagramAnswer(datagramReply.data(), 7));
}

TEST(EchoRequestTest, OnlyExactlyDllSelectsTheLibraryMode) {
  testing_support::TempDir dir;
  EXPECT_EQ(ReadPingMode(), PingMode::kRaw);
  for (const auto& [value, mode] : std::vector<std::pair<std::string, PingMode>>{
           {"dll", PingMode::kLibrary}, {"DLL", PingMode::kRaw}, {"dll2", PingMode::kRaw}, {"raw", PingMode::kRaw}}) {
    dir.Write("Velnor.ini", "[PING]\r\nMODE=" + value + "\r\n");
    EXPECT_EQ(ReadPingMode(), mode) << value;
  }
}

}  // namespace
