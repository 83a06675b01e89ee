#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"

namespace {

const std::string kAddUsage =
    "pc: invalid option\r\n\r\nUsage: pc add [source-mac SRC_MAC [source SRC_IP]] [network NW [netmask NM]]\r\n\r\n"
    "Examples:\r\n  pc add source-mac 00:00:00:00:00:00 source 192.168.0.1\r\n"
    "  pc add network 192.168.0.0 netmask 255.255.255.0\r\n";

// "mac source network netmask" per record.
std::string Records() {
  return testing_support::Dump<CPcData>(GetPcDataList(), [](const CPcData& pc) {
    return pc.macText + " " + pc.sourceText + " " + pc.networkText + " " + pc.netmaskText;
  });
}

using PcCommandTest = CommandTest;

TEST_F(PcCommandTest, AddStoresAllowedShapesWithDefaultNetmasks) {
  std::vector<Step> steps = {
      {"pc add source-mac 00:11:22:33:44:55 source 192.168.0.1", 1, "", "00:11:22:33:44:55 192.168.0.1  +;"},
      {"pc add source- aa-bb-cc-dd-ee-ff s 10.0.0.1", 1, "", "AA:BB:CC:DD:EE:FF 10.0.0.1  +;"},
      {"pc add source-mac 00:11:22:33:44:55 network 10.1.0.0", 1, "", "00:11:22:33:44:55  10.1.0.0 255.0.0.0+;"},
      {"pc add n 10.0.0.0", 1, "", "  10.0.0.0 255.0.0.0+;"},
      {"pc add net 172.16.0.0  netm 255.255.255.128", 1, "", "  172.16.0.0 255.255.255.128+;"},
      {"pc add network 172.16.0.0", 1, "", "  172.16.0.0 255.255.0.0+;"},
      {"pc add network 192.168.1.0", 1, "", "  192.168.1.0 255.255.255.0+;"},
      {"pc add network 230.0.0.0", 1, "", "  230.0.0.0 240.0.0.0+;"},
      {"pc add network 245.0.0.0", 1, "", "  245.0.0.0 248.0.0.0+;"},
      {"pc add network 0.0.0.0", 1, "", "  0.0.0.0 0.0.0.0+;"},
  };
  for (const char* refused : {"pc add network 250.0.0.0", "pc add network 192.168.0.0 netmask 255.0.255.0",
                              "pc add source 192.168.0.1",
                              "pc add source-mac 00:11:22:33:44:55 source 10.0.0.1 network 10.0.0.0",
                              "pc add", "pc add source-mac", "pc add network 10.0.0.0 source-mac",
                              "pc add network 10.0.0.0 mask 255.0.0.0", "pc add source-mac 00:11:22:33:44:5G"}) {
    steps.push_back({refused, 0, kAddUsage, ""});
  }
  RunSteps(steps, Records, ResetRegistries);
}

TEST_F(PcCommandTest, DuplicatesDeletionAndShow) {
  const std::string two = "00:11:22:33:44:55 192.168.0.1  +;  192.168.0.0 255.255.255.0+;";
  const std::string three = two + "00:11:22:33:44:66   +;";
  const std::string four = three + "-  1.0.0.0 255.0.0.0+;";
  const std::string listing =
      "ADDRESS\t\t\tDESTINATION\tNETWORK\t\tNETMASK\r\n00:11:22:33:44:55\t192.168.0.1\t\t\t\r\n"
      "\t\t\t\t\t192.168.0.0\t255.255.255.0\r\n00:11:22:33:44:66\t\t\t\t\t\r\n";
  RunSteps({{"pc add source-mac 00:11:22:33:44:55 source 192.168.0.1", 1, "", "00:11:22:33:44:55 192.168.0.1  +;"},
            {"pc add network 192.168.0.0", 1, "", two},
            {"pc add source-mac 00:11:22:33:44:55 source 192.168.0.1", 0, "duplication of data\r\n", two},
            {"pc del source 192.168.0.1", 0, "pc: invalid option\r\n\r\nUsage: pc del [source-mac...", two},
            {"pc del network 10.0.0.0", 2, "", two},  // no match is no refusal
            {"pc add source-mac 00:11:22:33:44:66", 1, "", three},
            {"pc add network 1.0.0.0", 1, "", three + "  1.0.0.0 255.0.0.0+;"},
            {"pc del network 1.0.0.0", 2, "", four},
            {"pc show", 0, listing, four},
            {"pc", 0, listing, four},
            {"pc show extra words", 0, listing, four}},
           Records);
}

}  // namespace
