#include "support/AddressParse.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Mac = std::array<uint8_t, 6>;
using Ip = std::array<uint8_t, 4>;

TEST(AddressParseTest, MacForms) {
  const Mac expected{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
  for (const char* text : {"00:11:22:aa:BB:cc", "00-11-22-AA-BB-CC", "001122AABBCC"}) {
    Mac mac{};
    EXPECT_EQ(ParseMac(text, mac.data()), 0) << text;
    EXPECT_EQ(mac, expected) << text;
  }
  for (const char* text : {"00:11:22-AA-BB-CC", "0:11:22:33:44:55", "00:11:22:33:44:5G",
                           "00.11.22.33.44.55", "00:11:22:33:44:55:", "0011223344 5",
                           "00112233445", "00:11:22:33:44:5\xC1"}) {
    Mac mac{};
    EXPECT_EQ(ParseMac(text, mac.data()), -1) << text;
  }
}

TEST(AddressParseTest, IPv4) {
  Ip ip{};
  EXPECT_EQ(ParseIPv4("192.168.000.001", ip.data()), 1);
  EXPECT_EQ(ip, (Ip{192, 168, 0, 1}));
  EXPECT_EQ(ParseIPv4("1..2.3", ip.data()), 1);
  EXPECT_EQ(ip, (Ip{1, 0, 2, 3}));
  EXPECT_EQ(ParseIPv4("010.255.0.9", ip.data()), 1);
  EXPECT_EQ(ip, (Ip{10, 255, 0, 9}));
  for (const char* text : {"1.2.3", "1.2.3.4.5", "1.2.3.256", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n",
                           "1.2.-3.4", "4294967297.0.0.1", "1.2.3.0256", "", "a.b.c.d"}) {
    EXPECT_EQ(ParseIPv4(text, ip.data()), 0) << text;
  }
  char text[] = "10.0.0.1";
  EXPECT_EQ(ParseIPv4(text, ip.data()), 1);
  EXPECT_STREQ(text, "10.0.0.1");  // the caller's text is not split
}

TEST(AddressParseTest, NumberInRange) {
  EXPECT_EQ(ParseNumberInRange("65535", 1, 65535), 65535);
  EXPECT_EQ(ParseNumberInRange("00080", 1, 65535), 80);
  EXPECT_EQ(ParseNumberInRange("1", 1, 65535), 1);
  for (const char* text : {"0", "65536", "80a", "+80", " 80", "4294967376", "99999999999"}) {
    EXPECT_EQ(ParseNumberInRange(text, 1, 65535), 0) << text;
  }
  EXPECT_EQ(ParseNumberInRange("000000000000000443", 1, 65535), 443);
  EXPECT_EQ(ParseNumberInRange("50", 10, 40), 0);
  EXPECT_EQ(ParseNumberInRange("5", 10, 40), 0);
  EXPECT_EQ(ParseNumberInRange("20", 40, 10), 0);
  EXPECT_EQ(ParseNumberInRange("20", 20, 20), 0);
  EXPECT_EQ(ParseNumberInRange("0", 0, 10), 0);
}

TEST(AddressParseTest, MaskToPrefix) {
  EXPECT_EQ(MaskToPrefix("255.255.255.0"), 24);
  EXPECT_EQ(MaskToPrefix("255.0.255.0"), -1);
  EXPECT_EQ(MaskToPrefix("0.0.0.0"), 0);
  EXPECT_EQ(MaskToPrefix("255.255.255.255"), 32);
  EXPECT_EQ(MaskToPrefix("255.255.255.254"), 31);
  EXPECT_EQ(MaskToPrefix("128.0.0.0"), 1);
  EXPECT_EQ(MaskToPrefix("255.255.192.0"), 18);
  EXPECT_EQ(MaskToPrefix("0.0.0.255"), -1);
  EXPECT_EQ(MaskToPrefix("255.255.255.253"), -1);
}

TEST(AddressParseTest, Formatting) {
  const uint8_t ip[4] = {192, 168, 0, 255};
  EXPECT_EQ(FormatIPv4(ip), "192.168.0.255");
  uint32_t value = 0;
  std::memcpy(&value, ip, sizeof value);
  EXPECT_EQ(FormatIPv4(value), "192.168.0.255");
  const uint8_t mac[6] = {0x00, 0x0a, 0xBC, 0xde, 0xF0, 0xff};
  EXPECT_EQ(FormatMac(mac), "00:0A:BC:DE:F0:FF");
}

TEST(AddressParseTest, BadInputFails) {
  Mac mac{};
  Ip ip{};
  EXPECT_EQ(ParseMac(nullptr, mac.data()), -1);
  EXPECT_EQ(ParseMac("", mac.data()), -1);
  EXPECT_EQ(ParseIPv4(nullptr, ip.data()), 0);
  EXPECT_EQ(ParseIPv4("1.2.3.4", nullptr), 0);
  EXPECT_EQ(ParseNumberInRange(nullptr, 1, 65535), 0);
  EXPECT_EQ(ParseNumberInRange("", 1, 65535), 0);
  EXPECT_EQ(MaskToPrefix(nullptr), -1);
  EXPECT_EQ(ParseIPv4("1.2.3.\xB4", ip.data()), 0);
  EXPECT_EQ(ParseNumberInRange("8\xB0", 1, 65535), 0);

  const std::string huge(100 * 1024, '1');
  EXPECT_EQ(ParseMac(huge.c_str(), mac.data()), -1);
  EXPECT_EQ(ParseIPv4(huge.c_str(), ip.data()), 0);
  EXPECT_EQ(ParseIPv4((huge + ".1.1.1").c_str(), ip.data()), 0);
  EXPECT_EQ(ParseNumberInRange(huge.c_str(), 1, 65535), 0);
  // Leading zeros of any length are still a valid octet.
  EXPECT_EQ(ParseIPv4((std::string(100 * 1024, '0') + "7.1.1.1").c_str(), ip.data()), 1);
  EXPECT_EQ(ip, (Ip{7, 1, 1, 1}));
}

}  // namespace
