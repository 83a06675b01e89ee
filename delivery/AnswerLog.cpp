#include "delivery/AnswerLog.h"

#include "support/Metrics.h"
#include "support/Syslog.h"

namespace {

bool StartsWith(const std::string& text, const char* word) { return text.rfind(word, 0) == 0; }

Metrics::Answer AnswerKind(int status, const std::string& body) {
  if (status != 200) return Metrics::kHttpError;
  static constexpr struct {
    const char* word;
    Metrics::Answer kind;
  } kWords[] = {{"ok", Metrics::kOk},
                {"no list", Metrics::kNoList},
                {"invalid version", Metrics::kInvalidVersion},
                {"invalid acl", Metrics::kInvalidAcl},
                {"invalid opcode", Metrics::kInvalidOpcode},
                {"invalid count", Metrics::kInvalidCount},
                {"invalid ACL format", Metrics::kInvalidAclFormat}};
  for (const auto& word : kWords) {
    if (StartsWith(body, word.word)) return word.kind;
  }
  return Metrics::kOtherWord;
}

}  // namespace

void LogAnswer(const std::string& gateway, int status, const std::string& body) {
  Count(GetMetrics().answers[AnswerKind(status, body)]);
  if (status != 200) {
    SyslogSend(4, "Response cord from %s is %d.", gateway.c_str(), status);
  } else if (StartsWith(body, "ok")) {
    SyslogSend(7, "Response cord from %s is OK.", gateway.c_str());
  } else if (StartsWith(body, "no list")) {
    SyslogSend(4, "Response cord from %s is no list.", gateway.c_str());
  } else {
    // The invalid-request words and anything else alike: the gateway's own text.
    SyslogSend(4, "Response cord from %s is %s.", gateway.c_str(), body.c_str());
  }
}
