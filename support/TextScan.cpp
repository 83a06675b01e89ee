#include "support/TextScan.h"

#include <cstring>

namespace {

// A zero is never a member: the set's terminator must not match the text's.
bool InSet(char c, const char* set) {
  if (c == '\0') return false;
  for (; *set != '\0'; ++set) {
    if (*set == c) return true;
  }
  return false;
}

unsigned char LowerByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

char* StrToLower(char* text) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) {
    *p = static_cast<char>(LowerByte(static_cast<unsigned char>(*p)));
  }
  return text;
}

// Folding each byte while comparing gives the same answer as comparing lower-cased copies,
// without an allocation that could fail.
int StrNCaseCmp(const char* a, const char* b, std::size_t n) {
  if (a == nullptr || b == nullptr) return -1;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = LowerByte(static_cast<unsigned char>(a[i]));
    const unsigned char cb = LowerByte(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == '\0') break;
  }
  return 0;
}

const char* StrCaseStr(const char* haystack, const char* needle) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  const std::size_t length = std::strlen(needle);
  for (const char* place = haystack; *place != '\0'; ++place) {
    if (StrNCaseCmp(place, needle, length) == 0) return place;
  }
  return nullptr;
}

// The C library's span functions stop at the text's terminator and never count it as a
// member, as InSet does, and they are much the faster on the registry files' columns.
const char* SpanChars(const char* text, const char* set) {
  if (text == nullptr) return nullptr;
  if (set == nullptr) return *text != '\0' ? text : nullptr;
  const char* first = text + std::strspn(text, set);
  return *first != '\0' ? first : nullptr;
}

char* SpanChars(char* text, const char* set) {
  return const_cast<char*>(SpanChars(static_cast<const char*>(text), set));
}

const char* FindFirstOf(const char* text, const char* set) {
  if (text == nullptr || set == nullptr) return nullptr;
  return std::strpbrk(text, set);
}

char* FindFirstOf(char* text, const char* set) {
  return const_cast<char*>(FindFirstOf(static_cast<const char*>(text), set));
}

char* CutAtDelimiter(char* text, const char* set) {
  char* delimiter = FindFirstOf(text, set);
  if (delimiter == nullptr) return nullptr;
  *delimiter = '\0';
  return delimiter + 1;
}

char* TrimRight(char* text, const char* set) {
  if (text == nullptr || set == nullptr) return nullptr;
  std::size_t length = std::strlen(text);
  while (length > 0 && InSet(text[length - 1], set)) --length;
  text[length] = '\0';
  return text;
}

char* NextToken(char* cursor, const char* skip, const char* delimiters, char** token) {
  if (cursor == nullptr || delimiters == nullptr || token == nullptr) return nullptr;
  char* start = cursor;
  if (skip != nullptr) {
    start = SpanChars(cursor, skip);
    if (start == nullptr) return nullptr;
  } else if (*start == '\0') {
    // The cursor left at the end of the text by the last field: without this a caller
    // looping until none would get empty fields forever.
    return nullptr;
  }
  // The field's end is known from the cut, so the trim needs no second pass over it.
  char* end = std::strpbrk(start, delimiters);
  char* next = nullptr;
  if (end != nullptr) {
    *end = '\0';
    next = end + 1;
  } else {
    end = start + std::strlen(start);
    next = end;
  }
  if (skip != nullptr) {
    while (end > start && InSet(end[-1], skip)) --end;
    *end = '\0';
  }
  *token = start;
  return next;
}

namespace {

// The members of kCsvSkipSet and kCsvDelimiterSet, spelled out.
bool IsCsvSkip(char c) { return c == '"' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

char* NextCsvToken(char* cursor, char** token) {
  if (cursor == nullptr || token == nullptr) return nullptr;
  char* start = cursor;
  while (IsCsvSkip(*start)) ++start;
  if (*start == '\0') return nullptr;
  char* end = strchrnul(start, ',');
  char* next = end;
  if (*end != '\0') {
    *end = '\0';
    next = end + 1;
  }
  while (end > start && IsCsvSkip(end[-1])) --end;
  *end = '\0';
  *token = start;
  return next;
}
