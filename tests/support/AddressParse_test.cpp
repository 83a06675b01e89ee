#include "support/AddressParse.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

namespace {

using Mac = std::array<uint8_t, 6>;
using Ip = std::array<uint8_t, 4>;

const std::string kHuge(100 * 1024, '1');
const char* const kNull = nullptr;

TEST(AddressParseTest, MacForms) {
  for (const char* text : {"00:11:22:aa:BB:cc", "00-11-22-AA-BB-CC", "001122AABBCC"}) {
    Mac mac{};
    EXPECT_EQ(ParseMac(text, mac.data()), 0) << text;
    EXPECT_EQ(mac, (Mac{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC})) << text;
  }
  for (const char* text : {"00:11:22-AA-BB-CC", "0:11:22:33:44:55", "00:11:22:33:44:5G", "00.11.22.33.44.55",
                           "00:11:22:33:44:55:", "0011223344 5", "00112233445", "00:11:22:33:44:5\xC1", "", kNull,
                           kHuge.c_str()}) {
    Mac mac{};
    EXPECT_EQ(ParseMac(text, mac.data()), -1) << (text != nullptr ? text : "null");
  }
}

// Empty octets are 0, and leading zeros of any length are allowed; the caller's text is not split.
TEST(AddressParseTest, IPv4) {
  const struct {
    std::string text;
    Ip ip;
  } valid[] = {{"192.168.000.001", {192, 168, 0, 1}},
               {"1..2.3", {1, 0, 2, 3}},
               {"010.255.0.9", {10, 255, 0, 9}},
               {std::string(100 * 1024, '0') + "7.1.1.1", {7, 1, 1, 1}}};
  for (const auto& v : valid) {
    std::string text = v.text;
    Ip ip{};
    EXPECT_EQ(ParseIPv4(text.c_str(), ip.data()), 1) << v.text.substr(0, 20);
    EXPECT_EQ(ip, v.ip);
    EXPECT_EQ(text, v.text);
  }
  for (const std::string text : {"1.2.3", "1.2.3.4.5", "1.2.3.256", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n", "1.2.-3.4",
                                 "4294967297.0.0.1", "1.2.3.0256", "", "a.b.c.d", "1.2.3.\xB4"}) {
    Ip ip{};
    EXPECT_EQ(ParseIPv4(text.c_str(), ip.data()), 0) << text;
  }
  Ip ip{};
  EXPECT_EQ(ParseIPv4(kHuge.c_str(), ip.data()), 0);
  EXPECT_EQ(ParseIPv4((kHuge + ".1.1.1").c_str(), ip.data()), 0);
  EXPECT_EQ(ParseIPv4(nullptr, ip.data()), 0);
  EXPECT_EQ(ParseIPv4("1.2.3.4", nullptr), 0);
}

TEST(AddressParseTest, NumberInRange) {
  EXPECT_EQ(ParseNumberInRange("65535", 1, 65535), 65535);
  EXPECT_EQ(ParseNumberInRange("00080", 1, 65535), 80);
  EXPECT_EQ(ParseNumberInRange("1", 1, 65535), 1);
  EXPECT_EQ(ParseNumberInRange("000000000000000443", 1, 65535), 443);
  for (const char* text : {"0", "65536", "80a", "+80", " 80", "4294967376", "99999999999", "", "8\xB0", kNull,
                           kHuge.c_str()}) {
    EXPECT_EQ(ParseNumberInRange(text, 1, 65535), 0) << (text != nullptr ? text : "null");
  }
  // Out of range, an empty range, and a range with 0 in it refuse.
  const std::tuple<const char*, uint16_t, uint16_t> refused[] = {
      {"50", 10, 40}, {"5", 10, 40}, {"20", 40, 10}, {"20", 20, 20}, {"0", 0, 10}};
  for (const auto& [text, low, high] : refused) {
    EXPECT_EQ(ParseNumberInRange(text, low, high), 0) << text << " in " << low << "-" << high;
  }
}

// The MaskToPrefix fuzz target checks every length against a reference; the callers' cases here.
TEST(AddressParseTest, MaskToPrefix) {
  const std::pair<const char*, int> cases[] = {{"255.255.255.0", 24}, {"0.0.0.0", 0}, {"255.255.255.255", 32},
                                               {"255.0.255.0", -1},   {kNull, -1}};
  for (const auto& [mask, prefix] : cases) EXPECT_EQ(MaskToPrefix(mask), prefix) << (mask ? mask : "null");
}

}  // namespace
