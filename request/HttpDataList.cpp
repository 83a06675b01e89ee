#include "request/HttpDataList.h"

#include <cstdio>
#include <optional>
#include <string>

#include "list/NacNode.h"
#include "request/Base64.h"
#include "request/SharedHeaders.h"

namespace {

const char* ClassWord(std::int32_t requestClass) {
  switch (requestClass) {
    case CHttpDataList::kClient:
      return "client";
    case CHttpDataList::kQuarantine:
      return "quarantine";
    default:
      return nullptr;
  }
}

const char* OpcodeWord(std::int32_t opcode) {
  switch (opcode) {
    case CHttpDataList::kSet:
      return "set";
    case CHttpDataList::kReset:
      return "reset";
    case CHttpDataList::kGet:
      return "get";
    default:
      return nullptr;
  }
}

// The header around the body's length: credentials and host before it, the rest after.
constexpr char kHeadFormat[] =
    "POST /quarantine/qacl.cgi HTTP/1.1\r\nAccept: */*\r\nAccept-Language: en-us\r\nAuthorization: Basic %s\r\n"
    "User-Agent: Velnor/1.0\r\nHost: %s\r\nContent-Type: text/html\r\nContent-Length: ";
constexpr char kTail[] = "\r\nCache-Control: no-cache\r\nKeepAlive: timeout=5\r\nConnection: Keep-Alive\r\n\r\n";

// printf into a string of whatever length the values need.
template <class... Args>
std::string Format(const char* format, Args... args) {
  const int size = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

}  // namespace

CHttpDataList::~CHttpDataList() = default;

int CHttpDataList::MakeHttpData(CHttpData& request, const std::string& user, const std::string& password,
                                std::int32_t version, std::int32_t requestClass, std::int32_t opcode,
                                std::int32_t count, const char* acl, const std::string& host) {
  const char* classWord = ClassWord(requestClass);
  const char* opcodeWord = OpcodeWord(opcode);
  if (classWord == nullptr || opcodeWord == nullptr) return 0;
  // The line goes in as it is: the gateway reads the body raw, nothing is escaped.
  request.body = acl != nullptr
                     ? Format("version=%d&class=%s&opcode=%s&count=%d&acl=%s", version, classWord, opcodeWord, count, acl)
                     : Format("version=%d&class=%s&opcode=%s&count=0", version, classWord, opcodeWord);
  const std::optional<std::string> credentials = EncodeBase64(user + ":" + password);
  if (!credentials) return 0;
  request.SetHeader(SharedHeaderParts(Format(kHeadFormat, credentials->c_str(), host.c_str()), kTail));
  return 1;
}

CHttpData* CHttpDataList::FindHttpData(const CHttpData& key, const Guard& held) {
  for (CNacNode* node = GetHead(held); node != nullptr; node = GetNext(node, held)) {
    auto* request = node->RecordAs<CHttpData>();
    if (*request == key) return request;
  }
  return nullptr;
}

CHttpDataList& GetPendingHttpDataList() {
  static CHttpDataList pending;
  return pending;
}
