#pragma once

#include <vector>

// The separators of an operator line: blank, TAB, CR and LF.
inline constexpr const char kCommandSeparators[] = " \t\r\n";

// The most words a line may have.
inline constexpr int kMaxCommandWords = 255;

// Splits a line in place into words: leading and trailing separators are dropped, and
// every separator ends a word, so two adjacent separators give an empty word between
// them. words receives the words followed by a null. Gives the word count: 0 for a line
// of separators only, -1 (words then empty) for a line of more than kMaxCommandWords.
[[nodiscard]] int SplitCommandLine(char* line, std::vector<char*>& words);
