// The access-list line a gateway receives: its element order, the protocol check and the
// list name's default.
#include "request/AclData.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AclDataTest, LinesOfTheRuleWalks) {
  CAclData nac;
  nac.opcode = CAclData::kAdd;
  nac.name = "nac";
  nac.action = CAclData::kAccept;
  nac.sourceMac = "00:00:00:00:00:00";  // filled before the others: the order is fixed anyway
  nac.source = "192.168.0.1";
  nac.in = "eth0";
  ASSERT_EQ(nac.MakeAcl(), 0);
  EXPECT_EQ(nac.text, "add access-list nac accept in eth0 source 192.168.0.1 source-mac 00:00:00:00:00:00");

  CAclData pc;
  pc.opcode = CAclData::kDelete;
  pc.name = "pc";
  pc.action = CAclData::kAccept;
  pc.sport = "4208";
  pc.destination = "192.168.0.0/24";
  pc.source = "172.17.254.254";
  pc.protocol = "tcp";
  ASSERT_EQ(pc.MakeAcl(), 0);
  EXPECT_EQ(pc.text, "delete access-list pc accept protocol tcp source 172.17.254.254 destination 192.168.0.0/24 "
                     "sport 4208");

  CAclData every;
  every.opcode = CAclData::kModify;
  every.name = "x";
  every.action = CAclData::kDrop;
  every.in = "i";
  every.out = "o";
  every.protocol = "gre";
  every.source = "s";
  every.destination = "d";
  every.sport = "1";
  every.dport = "2";
  every.sourceMac = "m";
  every.log = 1;
  ASSERT_EQ(every.MakeAcl(), 0);
  EXPECT_EQ(every.text, "modify access-list x drop in i out o protocol gre source s destination d sport 1 dport 2 "
                        "source-mac m log");
}

TEST(AclDataTest, ProtocolNameDefaultAndRefusals) {
  const struct {
    const char* protocol;
    const char* text;
  } protocols[] = {
      {"TCP", "insert access-list Velnor drop protocol TCP"},  // no name, but it reads as the number 0
      {"17", "insert access-list Velnor drop protocol 17"},
      {"255x", "insert access-list Velnor drop protocol 255x"},
      {"300", "insert access-list Velnor drop"},
      {"-1", "insert access-list Velnor drop"},
      {"", "insert access-list Velnor drop"},
  };
  for (const auto& p : protocols) {
    CAclData acl;
    acl.opcode = CAclData::kInsert;
    acl.action = CAclData::kDrop;
    acl.protocol = p.protocol;
    EXPECT_EQ(acl.MakeAcl(), 0);
    EXPECT_EQ(acl.text, p.text) << p.protocol;
    EXPECT_EQ(acl.name, "Velnor");  // the record keeps the default name
  }

  CAclData acl;
  acl.name = "pc";
  acl.action = CAclData::kAccept;
  for (const std::int32_t opcode : {0, 5}) {
    acl.opcode = opcode;
    EXPECT_EQ(acl.MakeAcl(), -1);
    EXPECT_EQ(acl.text, "");
  }
  acl.opcode = CAclData::kAdd;
  acl.action = 0;
  EXPECT_EQ(acl.MakeAcl(), -1);
  EXPECT_EQ(acl.text, "add access-list pc");
}

}  // namespace
