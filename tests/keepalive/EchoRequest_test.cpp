// The probe's packet, the test of what comes back, the prober choice and the ping mode.

#include "keepalive/EchoRequest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "keepalive/IcmpPing.h"
#include "keepalive/NacKeepAlive.h"
#include "tests/common/TempDir.h"

namespace {

TEST(EchoRequestTest, HasTheLayoutAndAChecksumThatSumsToZero) {
  const auto request = BuildEchoRequest(0x1234, 0xAABBCCDD);
  ASSERT_EQ(request.size(), 76u);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  std::uint16_t identifier, sequence;
  std::uint32_t ticks;
  std::memcpy(&identifier, &request[4], 2);
  std::memcpy(&sequence, &request[6], 2);
  std::memcpy(&ticks, &request[8], 4);
  EXPECT_EQ(identifier, 0x1234);
  EXPECT_EQ(sequence, 0);
  EXPECT_EQ(ticks, 0xAABBCCDDu);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&request[12])), kEchoText);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&request[12])).size(), 51u);
  EXPECT_EQ(request[75], 0);
  EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
  // The textbook example: words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
  const std::uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  const std::uint16_t checksum = InternetChecksum(sample, sizeof sample);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&checksum);
  EXPECT_EQ(bytes[0], 0x22);
  EXPECT_EQ(bytes[1], 0x0d);
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
      {"header alone", Packet(5, {}), false},
      {"header length beyond the packet", Packet(15, {}), false},
      {"nothing", {}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsEchoAnswer(c.packet.data(), c.packet.size(), ours), c.answer) << c.what;
  // A header length that points past the bytes received is never read.
  const std::uint8_t shortPacket[] = {0x4F, 0, 0, 0};
  EXPECT_FALSE(IsEchoAnswer(shortPacket, sizeof shortPacket, ours));
}

TEST(EchoRequestTest, TheJobGoesToTheLeastBusyProberTiesToTheLowest) {
  constexpr std::int32_t kNone = 2147483647;
  EXPECT_EQ(CNacKeepAlive::LeastBusy(std::vector<std::int32_t>{0, 0, 0, 0, 0}), 0);
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
