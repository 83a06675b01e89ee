#include "command/CommandSplit.h"

#include "support/TextScan.h"

int SplitCommandLine(char* line, std::vector<char*>& words) {
  words.clear();
  char* text = SpanChars(line, kCommandSeparators);
  if (text == nullptr) return 0;
  TrimRight(text, kCommandSeparators);
  while (text != nullptr) {
    if (static_cast<int>(words.size()) == kMaxCommandWords) {
      words.clear();
      return -1;
    }
    words.push_back(text);
    text = CutAtDelimiter(text, kCommandSeparators);
  }
  const int count = static_cast<int>(words.size());
  words.push_back(nullptr);
  return count;
}
