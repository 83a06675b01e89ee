#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that came from outside (a gateway's answer, an operator's line) made safe to show
// on a terminal, in a log line or on a page: every control byte (below 0x20, and 0x7f)
// becomes "\xNN", so a NUL cuts nothing short and an ESC moves no cursor. At most limit
// bytes of text are taken; a longer text ends in "..." after them.
std::string EscapeControlBytes(std::string_view text, std::size_t limit);
