#pragma once

#include <string>

// The listings line their columns up with TABs: a column's text is followed by a TAB, and
// by one more when it is shorter than one TAB stop (8 characters), so that the next
// column starts at the same stop.
inline void AppendColumn(std::string& line, const std::string& text) {
  line += text;
  line += text.size() < 8 ? "\t\t" : "\t";
}
