#pragma once

#include <cstddef>

// Scanning helpers on zero-terminated byte texts. A "set" is a zero-terminated list of
// characters; nullptr stands for "none" both as argument and as result. Case folding is
// ASCII only. Nothing here keeps state or allocates.

// The registry files: columns are separated by commas and may be wrapped in quotes and
// blanks, which NextToken strips from both ends of each column.
inline constexpr const char kCsvSkipSet[] = "\" \t\r\n";
inline constexpr const char kCsvDelimiterSet[] = ",";

// Lower-cases the text in place and gives it back.
char* StrToLower(char* text);

// Compares at most n characters of a and b as if both were lower-cased, with the sign
// convention of strncmp (bytes compared unsigned). A missing text gives -1.
int StrNCaseCmp(const char* a, const char* b, std::size_t n);

// First place in haystack where needle starts, ignoring case; none for an empty haystack.
const char* StrCaseStr(const char* haystack, const char* needle);

// First character not in the set; none when every character is in it or the text is empty.
char* SpanChars(char* text, const char* set);
const char* SpanChars(const char* text, const char* set);

// First character that is in the set, or none.
char* FindFirstOf(char* text, const char* set);
const char* FindFirstOf(const char* text, const char* set);

// Ends the text at its first character from the set and gives the position after it;
// none (text unchanged) when the text holds no such character.
char* CutAtDelimiter(char* text, const char* set);

// Strips characters of the set from the end of the text in place and gives the text;
// none when the text or the set is missing.
char* TrimRight(char* text, const char* set);

// Splits the next field off the caller's buffer in place. The field starts after the
// characters of skip (when given), ends at the first character of delimiters, and loses
// trailing characters of skip. Stores the field in *token and gives the cursor for the
// next call, or none when there is no field left (nothing is stored then).
char* NextToken(char* cursor, const char* skip, const char* delimiters, char** token);

// NextToken with kCsvSkipSet and kCsvDelimiterSet, the same in every respect, with the two
// sets compiled in: the registry loads split every line of their files with it.
char* NextCsvToken(char* cursor, char** token);
