#pragma once

#include <string>
#include <string_view>

#include "command/CommandId.h"

// What the audit trail says of one console line.
//   Audit: 127.0.0.1:40512 slot 3 "gw add 10.0.0.1 pass ***" done
//   Audit: 127.0.0.1:40512 slot 3 "gw add 10.0.0.1 pass ***" refused: duplication of data

// Whether the words (after the split) name a change: add, del, set, clear, load or save of a
// family, as the family itself would select its sub-command.
bool IsAuditedCommand(CommandId id, int wordCount, char** words);

// The line as typed, fit to be logged: the word after every "pass" word (any leading part
// of it, in any case) shown as "***", control bytes escaped, the length bounded.
std::string MaskedCommandLine(std::string_view line);

// The whole audit text: origin is "address:port slot n"; reply is the first reply the
// command sent (empty when it sent none).
std::string AuditText(const std::string& origin, const std::string& maskedLine, std::string_view reply);
