// The probe's packet, the test of what comes back, the prober choice and the ping mode.

#include "keepalive/EchoRequest.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "keepalive/IcmpPing.h"
#include "keepalive/NacKeepAlive.h"
#include "tests/common/TempDir.h"

namespace {

// Fields in the host's byte order, the text behind them, zeros to the end; the checksum
// makes the whole sum to zero, which is what the receiver checks.
TEST(EchoRequestTest, IsTheRequestOfTheWireWithAChecksumThatSumsToZero) {
  const auto request = BuildEchoRequest(0x1234, 0xAABBCCDD);
  std::array<std::uint8_t, 76> expected{8, 0, request[2], request[3]};
  const std::uint16_t identifier = 0x1234;
  const std::uint32_t ticks = 0xAABBCCDD;
  std::memcpy(&expected[4], &identifier, 2);
  std::memcpy(&expected[8], &ticks, 4);
  std::memcpy(&expected[12], "Talvex Networks Inc. Network Access Control System.", 51);
  EXPECT_EQ(request, expected);
  EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
  // The textbook example: words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
  const std::uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  const std::uint16_t checksum = InternetChecksum(sample, sizeof sample);
  EXPECT_EQ(std::memcmp(&checksum, "\x22\x0d", 2), 0);
  const std::uint8_t odd[] = {0x01};
  EXPECT_EQ(InternetChecksum(odd, 1), static_cast<std::uint16_t>(~0x0001));
}

// An IPv4 header of ihl words (first byte 0x40 | ihl), then the ICMP bytes given.
std::vector<std::uint8_t> Packet(int ihl, std::vector<std::uint8_t> icmp) {
  std::vector<std::uint8_t> packet(static_cast<std::size_t>(ihl) * 4, 0);
  packet[0] = static_cast<std::uint8_t>(0x40 | ihl);
  packet.insert(packet.end(), icmp.begin(), icmp.end());
  return packet;
}

TEST(EchoRequestTest, OnlyOurEchoRepliesAndTimeExceededAreAnswers) {
  const std::uint16_t ours = 0x4321;
  std::uint8_t id[2];
  std::memcpy(id, &ours, 2);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> packet;
    bool answer;
  } cases[] = {
      {"our echo reply", Packet(5, {0, 0, 0, 0, id[0], id[1], 0, 0}), true},
      {"our reply behind IP options", Packet(6, {0, 0, 0, 0, id[0], id[1], 0, 0}), true},
      {"another prober's reply", Packet(5, {0, 0, 0, 0, static_cast<std::uint8_t>(id[0] + 1), id[1], 0, 0}), false},
      {"time exceeded from anywhere", Packet(5, {11, 0}), true},
      {"our own request seen on the way", Packet(5, {8, 0, 0, 0, id[0], id[1], 0, 0}), false},
      {"unreachable", Packet(5, {3, 1, 0, 0, id[0], id[1]}), false},
      {"reply cut before its identifier", Packet(5, {0, 0, 0, 0, id[0]}), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsEchoAnswer(c.packet.data(), c.packet.size(), ours), c.answer) << c.what;
}

TEST(EchoRequestTest, TheJobGoesToTheLeastBusyProberTiesToTheLowest) {
  constexpr std::int32_t kNone = 2147483647;
  EXPECT_EQ(CNacKeepAlive::LeastBusy(std::vector<std::int32_t>{2, 1, 3, 1, 1}), 1);
  EXPECT_EQ(CNacKeepAlive::LeastBusy(std::vector<std::int32_t>{kNone, 4, 4, kNone, 0}), 4);
  EXPECT_EQ(CNacKeepAlive::LeastBusy(std::vector<std::int32_t>{kNone, kNone}), -1);
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
