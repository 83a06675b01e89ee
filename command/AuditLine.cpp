#include "command/AuditLine.h"

#include <array>
#include <cctype>
#include <cstring>

#include "command/CommandSplit.h"
#include "command/CommandWords.h"
#include "support/ControlBytes.h"

namespace {

// Longer lines are cut: a trail line must fit a datagram with room to spare.
constexpr std::size_t kLineLimit = 480;
constexpr std::size_t kReplyLimit = 120;

constexpr std::array<const char*, 6> kChanges = {"add", "del", "set", "clear", "load", "save"};
// The gw family selects the first sub-command its word 1 is a leading part of.
constexpr std::array<const char*, 6> kGwOrder = {"add", "del", "save", "load", "clear", "show"};

bool IsSeparator(char c) { return c != '\0' && std::strchr(kCommandSeparators, c) != nullptr; }

bool IsPassWord(std::string_view word) {
  constexpr std::string_view kPass = "pass";
  if (word.empty() || word.size() > kPass.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kPass[i]) return false;
  }
  return true;
}

}  // namespace

bool IsAuditedCommand(CommandId id, int wordCount, char** words) {
  if (id < CommandId::kNac || id > CommandId::kService || wordCount < 2) return false;
  if (id == CommandId::kGw) {
    for (const char* name : kGwOrder) {
      if (IsLeadingPart(words[1], name)) return std::strcmp(name, "show") != 0;
    }
    return false;
  }
  for (const char* name : kChanges) {
    if (IsWord(words[1], name)) return true;
  }
  return false;
}

std::string MaskedCommandLine(std::string_view line) {
  while (!line.empty() && IsSeparator(line.back())) line.remove_suffix(1);
  while (!line.empty() && IsSeparator(line.front())) line.remove_prefix(1);
  std::string masked;
  masked.reserve(line.size());
  bool hide = false;  // the next word that is not empty is a password
  std::size_t at = 0;
  while (at <= line.size()) {
    std::size_t end = at;
    while (end < line.size() && !IsSeparator(line[end])) ++end;
    const std::string_view word = line.substr(at, end - at);
    if (hide && !word.empty()) {
      masked += "***";
      hide = false;
    } else {
      masked += word;
      hide = hide || IsPassWord(word);
    }
    if (end < line.size()) masked += line[end];
    at = end + 1;
  }
  return EscapeControlBytes(masked, kLineLimit);
}

std::string AuditText(const std::string& origin, const std::string& maskedLine, std::string_view reply) {
  std::string text = "Audit: " + origin + " \"" + maskedLine + "\" ";
  if (reply.empty()) return text + "done";
  return text + "refused: " + EscapeControlBytes(reply.substr(0, reply.find_first_of("\r\n")), kReplyLimit);
}
