#pragma once

#include <cstdint>
#include <string>

// One access-list rule for a gateway, filled by the rule walks and turned into the single
// line the gateway takes ("add access-list pc accept protocol tcp source ..."). Pure text
// work: no lock, no I/O, no log line; a value belongs to the thread that made it.
class CAclData {
 public:
  enum Opcode : std::int32_t { kAdd = 1, kInsert = 2, kDelete = 3, kModify = 4 };
  enum Action : std::int32_t { kAccept = 1, kDrop = 2 };

  // Builds text from the fields: 0, or -1 for an unknown opcode (text empty) or action
  // (text holds the verb, "access-list" and the name). An empty name becomes "Velnor",
  // in the record too. The values go in verbatim, in a fixed order whatever order they
  // were filled in; a protocol that is no known name nor a number from 0 to 255 is left
  // out of the line.
  [[nodiscard]] std::int32_t MakeAcl();

  std::int32_t opcode = 0;
  std::string name;
  std::int32_t action = 0;
  std::string in;
  std::string out;
  std::string protocol;
  std::string source;
  std::string destination;
  std::string sport;
  std::string dport;
  std::string sourceMac;
  std::int32_t log = 0;
  std::string text;
};
