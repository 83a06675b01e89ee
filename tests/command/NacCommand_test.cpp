#include <gtest/gtest.h>

#include <string>

#include "tests/command/CommandHarness.h"

namespace {

const std::string kAddUsage =
    "nac: invalid option\r\n\r\nUsage: nac add TARGET source SRC_IP [source-mac SRC_MAC]\r\n\r\n"
    "Examples:\r\n  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n";
const std::string kHeader = "TARGET\tDESTINATION\tADDRESS\t\t\tFQDN\r\n";

// "target source mac" per entry.
std::string Entries() {
  return testing_support::Dump<CNacData>(GetNacDataList(), [](const CNacData& e) {
    return std::to_string(e.target) + " " + e.sourceText + " " + e.macText;
  });
}

using NacCommandTest = CommandTest;

TEST_F(NacCommandTest, AddReadsTargetAndOptions) {
  RunSteps({{"nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00", 1, "",
             "1 192.168.0.1 00:00:00:00:00:00+;"},
            {"nac add a s 10.0.0.1", 1, "", "1 10.0.0.1 +;"},
            {"nac add acc source 10.0.0.1", 1, "", "1 10.0.0.1 +;"},
            {"nac add d source 10.0.0.1", 1, "", "2 10.0.0.1 +;"},
            {"nac add dr source- aa-bb-cc-dd-ee-ff  source 10.0.0.1", 1, "", "2 10.0.0.1 AA:BB:CC:DD:EE:FF+;"},
            {"nac add  source 10.0.0.1", 1, "", "1 10.0.0.1 +;"},  // an empty TARGET word is accept
            {"nac add accept source 10.0.0.1 source 10.0.0.2", 1, "", "1 10.0.0.2 +;"},
            {"nac add x source 10.0.0.1", 0, kAddUsage, ""},
            {"nac add accept source-mac 00:11:22:33:44:55", 0, kAddUsage, ""},
            {"nac add", 0, kAddUsage, ""},
            {"nac add accept source", 0, kAddUsage, ""},
            {"nac add accept source 10.0.0.300", 0, kAddUsage, ""},
            {"nac add accept source 10.0.0.1 source-mac", 0, kAddUsage, ""},
            {"nac add accept source 10.0.0.1 port 80", 0, kAddUsage, ""},
            {"nac add accept source 10.0.0.1 source-mac 00:11:22:33:44", 0, kAddUsage, ""}},
           Entries, ResetRegistries);
}

TEST_F(NacCommandTest, DuplicatesDeletionShowAndOtherWords) {
  const std::string add = "nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:01";
  const std::string one = "1 192.168.0.1 00:00:00:00:00:01";
  const std::string three = one + "+;1 192.168.0.1 00:00:00:00:00:02+;2 1.2.3.4 +;";
  const std::string withdrawn = "-" + one + "+;-1 192.168.0.1 00:00:00:00:00:02+;2 1.2.3.4 +;";
  const std::string usage =
      "nac: invalid option\r\n\r\nUsage: nac OPERATION [TARGET] [source SRC_IP] [source-mac SRC_MAC]\r\n\r\n"
      "Examples:\r\n  nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n"
      "  nac del accept source 192.168.0.1 source-mac 00:00:00:00:00:00\r\n  nac show\r\n\r\n"
      "OPERATION:         (add/del/show)\r\nTARGET:            (accept/drop)\r\n"
      "SRC_IP:            IP address of PC\r\nSRC_MAC:           MAC address of PC\r\n"
      "SRC_FQDN:          FQDN of PC\r\n";
  const std::string showUsage = "nac: invalid option\r\n\r\nUsage: nac show\r\n\r\nExamples:\r\n  nac show\r\n";
  const auto notImplemented = [](const std::string& word) {
    return "nac: invalid option\r\n\r\nUsage: nac " + word + "\r\n\r\nExamples:\r\n  nac " + word +
           "\r\n\r\nNonimplement\r\n";
  };
  RunSteps({{add, 1, "", one + "+;"},
            {add, 0, "duplication of data\r\n", one + "+;"},
            {"nac add accept source 192.168.0.1 source-mac 00:00:00:00:00:02", 1, "",
             one + "+;1 192.168.0.1 00:00:00:00:00:02+;"},
            {"nac add drop source 1.2.3.4", 1, "", three},
            {"nac del accept source-mac 00:00:00:00:00:01 x", 0, "nac: invalid option\r\n\r\nUsage: nac del TARGET...",
             three},
            {"nac del drop source 10.9.9.9", 2, "", three},  // no match is no refusal
            {"nac show", 0,
             kHeader + "accept\t192.168.0.1\t00:00:00:00:00:01\r\naccept\t192.168.0.1\t00:00:00:00:00:02\r\n"
                       "drop\t1.2.3.4\t\t\r\n",
             three},
            {"nac del a source 192.168.0.1", 2, "", withdrawn},
            {"nac", 0, kHeader + "drop\t1.2.3.4\t\t\r\n", withdrawn},
            {"nac show source 192.168.0.1", 0, showUsage, withdrawn},
            {"nac show x", 0, showUsage, withdrawn},
            {"nac stop source 10.0.0.1", 0, notImplemented("stop"), withdrawn},
            {"nac start", 0, notImplemented("start"), withdrawn},
            {"nac ADD accept source 10.0.0.2", 0, usage, withdrawn},
            {"nac ad accept source 10.0.0.2", 0, usage, withdrawn},
            {"nac  add accept source 10.0.0.2", 0, usage, withdrawn}},
           Entries);
}

}  // namespace
