#include "acl/PendingEmitter.h"

#include "acl/RequestMaker.h"
#include "delivery/NacHttpClient.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

// The texts one maker logs its failures with.
struct MakerTexts {
  const char* acl;
  const char* http;
  const char* save;
};

constexpr MakerTexts kClientTexts{"NacCommandAclClientMake: I failed in making of ACL.",
                                  "NacCommandAclClientMake: I failed in making of HTTP data.",
                                  "NacCommandAclClientMake: I failed in save of HTTP data."};
constexpr MakerTexts kNacTexts{"NacCommandNacMake: I failed in making of ACL.",
                               "NacCommandNacMake: I failed in making of HTTP data.",
                               "NacCommandNacMake: I failed in save of HTTP data."};
constexpr MakerTexts kResetTexts{nullptr, "KeepAliveResetProcess: I failed in making of HTTP data.",
                                 "KeepAliveResetProcess: I failed in save of HTTP data."};

// Appends a made request to the pending list. For a reset, a request object that cannot be
// made is logged and passed over (true); everything else that fails gives false.
bool Queue(const CGwData& gateway, std::int32_t requestClass, const char* acl, const MakerTexts& texts) {
  MadeRequest made = MakeRequest(gateway, requestClass, acl);
  if (made.objectFailed) {
    SyslogSend(2, "I failed in making of CHttpData.");
    return acl == nullptr;
  }
  if (!made.request) {
    SyslogSend(3, "%s", texts.http);
    return false;
  }
  try {
    GetPendingHttpDataList().AddTail(made.request.get(), false);
  } catch (const ThrownText&) {
    SyslogSend(3, "%s", texts.save);
    return false;
  }
  made.request.release();
  return true;
}

bool QueueRule(const CGwData& gateway, std::int32_t requestClass, CAclData& acl, const MakerTexts& texts) {
  if (acl.MakeAcl() != 0) {
    SyslogSend(3, "%s", texts.acl);
    return false;
  }
  return Queue(gateway, requestClass, acl.text.c_str(), texts);
}

const char* OpcodeWord(std::int32_t opcode) {
  switch (opcode) {
    case CAclData::kAdd:
    case CAclData::kInsert:
      return "add";
    case CAclData::kDelete:
      return "delete";
    case CAclData::kModify:
      return "change";
    default:
      return "";
  }
}

}  // namespace

bool PendingEmitter::ClientRule(const CGwData& gateway, CAclData& acl) {
  return QueueRule(gateway, CHttpDataList::kClient, acl, kClientTexts);
}

bool PendingEmitter::NacRule(const CGwData& gateway, CAclData& acl) {
  return QueueRule(gateway, CHttpDataList::kQuarantine, acl, kNacTexts);
}

bool PendingEmitter::Reset(const CGwData& gateway, std::int32_t requestClass) {
  return Queue(gateway, requestClass, nullptr, kResetTexts);
}

void PendingEmitter::NacMade(std::int32_t opcode, const CNacData& entry, const std::string& mac,
                             const CGwData& gateway) {
  SyslogSend(6, "I started processing to %s ACL for %s %s%s%s to GW of %s.", OpcodeWord(opcode),
             entry.sourceText.c_str(), mac.empty() ? "" : "(", mac.c_str(), mac.empty() ? "" : ")",
             gateway.addressText.c_str());
}

bool PendingEmitter::Wake() { return httpClient_ == nullptr || httpClient_->EventSend(); }
