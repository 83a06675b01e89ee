#pragma once

#include <cstdint>

#include "list/NacList.h"
#include "request/HttpData.h"

// A list of prepared requests: the process-wide pending request list, which the rule walks
// fill and the delivery dispatcher empties, and the queue of each sender.
class CHttpDataList final : public CNacList {
 public:
  enum Class : std::int32_t { kClient = 1, kQuarantine = 2 };
  enum Opcode : std::int32_t { kSet = 1, kReset = 2, kGet = 3 };

  ~CHttpDataList() override;

  // Writes header and body of request (its address and port are the caller's): the form
  // body with the ACL line (none: a reset order with count 0), and the header with Basic
  // credentials of user and password, the host text and the body's length in bytes. 1, or
  // 0 for an unknown class or opcode (nothing written) or failed credentials.
  [[nodiscard]] static int MakeHttpData(CHttpData& request, const std::string& user, const std::string& password,
                                        std::int32_t version, std::int32_t requestClass, std::int32_t opcode,
                                        std::int32_t count, const char* acl, const std::string& host);

  // The first request from the head equal to key, or none. It takes the guard that holds
  // the list's lock: what it finds is only valid while that guard lives.
  CHttpData* FindHttpData(const CHttpData& key, const Guard& held) VELNOR_REQUIRES(this);
};

// The pending request list of the process.
CHttpDataList& GetPendingHttpDataList();
