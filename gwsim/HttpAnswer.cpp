#include "gwsim/HttpAnswer.h"

#include <cstdio>

namespace gwsim {

namespace {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

std::string HttpAnswer(int status, std::string_view body, bool chunked, std::string_view extraFields) {
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + std::string(ReasonPhrase(status)) + "\r\n";
  answer += "Content-Type: text/plain\r\n";
  answer += extraFields;
  if (!chunked) {
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    answer += body;
    return answer;
  }
  answer += "Transfer-Encoding: chunked\r\n\r\n";
  if (!body.empty()) {
    char size[20];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    answer += size;
    answer += body;
    answer += "\r\n";
  }
  answer += "0\r\n\r\n";
  return answer;
}

std::string TruncatedAnswer(const std::string& answer) {
  const std::size_t statusEnd = answer.find("\r\n");
  return answer.substr(0, statusEnd == std::string::npos ? answer.size() : statusEnd + 2 + 6);
}

}  // namespace gwsim
