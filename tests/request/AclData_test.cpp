// The access-list line a gateway receives: its element order, the protocol check and the
// list name's default.
#include "request/AclData.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// Each rule names only the fields it fills; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// MakeAcl's result and the line it made.
std::pair<std::int32_t, std::string> Made(CAclData acl) {
  const std::int32_t result = acl.MakeAcl();
  return {result, acl.text};
}

// Every field in its place; the rule walks' own lines, add and delete, are compared with
// the rule model by the walks' tests.
TEST(AclDataTest, EveryFieldInItsPlace) {
  EXPECT_EQ(Made({.opcode = CAclData::kModify, .name = "x", .action = CAclData::kDrop, .in = "i", .out = "o",
                  .protocol = "gre", .source = "s", .destination = "d", .sport = "1", .dport = "2",
                  .sourceMac = "m", .log = 1}),
            std::make_pair(0, std::string("modify access-list x drop in i out o protocol gre source s destination d "
                                          "sport 1 dport 2 source-mac m log")));
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
      {"+7", "insert access-list Velnor drop protocol +7"},
      {" 300", "insert access-list Velnor drop protocol  300"},  // a blank is no number: 0
      {"99999999999999999999", "insert access-list Velnor drop"},
      {"", "insert access-list Velnor drop"},
  };
  for (const auto& p : protocols) {
    CAclData acl{.opcode = CAclData::kInsert, .action = CAclData::kDrop, .protocol = p.protocol};
    EXPECT_EQ(acl.MakeAcl(), 0);
    EXPECT_EQ(acl.text, p.text) << p.protocol;
    EXPECT_EQ(acl.name, "Velnor");  // the record keeps the default name
  }
  for (const std::int32_t opcode : {0, 5}) {
    EXPECT_EQ(Made({.opcode = opcode, .name = "pc", .action = CAclData::kAccept}), std::make_pair(-1, std::string()));
  }
  EXPECT_EQ(Made({.opcode = CAclData::kAdd, .name = "pc"}), std::make_pair(-1, std::string("add access-list pc")));
}

}  // namespace
