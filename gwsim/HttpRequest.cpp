#include "gwsim/HttpRequest.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace gwsim {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isgraph(static_cast<unsigned char>(c)) && c != ':';
  });
}

ParseOutcome Malformed(std::string reason) { return {ParseOutcome::kMalformed, 0, std::move(reason)}; }

// "METHOD /target HTTP/1.x", single spaces.
bool ParseRequestLine(std::string_view line, HttpRequest& request) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (method.empty() || !std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
    return false;
  if (target.empty() || target.front() != '/' || !IsToken(target)) return false;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  request.method = method;
  request.target = target;
  return true;
}

}  // namespace

std::optional<std::string_view> HttpRequest::Field(std::string_view name) const {
  for (const auto& [fieldName, value] : fields)
    if (SameText(fieldName, name)) return std::string_view(value);
  return std::nullopt;
}

std::string_view HttpRequest::Path() const {
  return std::string_view(target).substr(0, target.find('?'));
}

bool HttpRequest::WantsClose() const {
  const auto connection = Field("Connection");
  return connection && SameText(*connection, "close");
}

ParseOutcome ParseHttpRequest(std::string_view input, HttpRequest& request) {
  const std::size_t end = input.find(kHeaderEnd);
  if (end == std::string_view::npos)
    return input.size() > kMaxHeaderBytes ? Malformed("header over 16 KiB") : ParseOutcome{};
  const std::size_t headerSize = end + kHeaderEnd.size();
  if (headerSize > kMaxHeaderBytes) return Malformed("header over 16 KiB");

  request = HttpRequest{};
  const std::string_view header = input.substr(0, headerSize);
  std::size_t lineStart = header.find(kLineEnd);
  if (!ParseRequestLine(header.substr(0, lineStart), request)) return Malformed("bad request line");

  std::optional<std::size_t> length;
  for (lineStart += kLineEnd.size(); lineStart < end; ) {
    const std::size_t lineEnd = header.find(kLineEnd, lineStart);
    const std::string_view line = header.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + kLineEnd.size();
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Malformed("bad header field");
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (SameText(name, "Transfer-Encoding")) return Malformed("chunked requests are not taken");
    if (SameText(name, "Content-Length")) {
      std::size_t parsed = 0;
      const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
      if (error == std::errc::result_out_of_range) return Malformed("body over 64 KiB");
      if (error != std::errc() || stop != value.data() + value.size()) return Malformed("bad Content-Length");
      if (length && *length != parsed) return Malformed("two Content-Length values");
      length = parsed;
    }
    request.fields.emplace_back(name, value);
  }
  if (!length) {
    if (request.method == "POST" || request.method == "PUT") return Malformed("no Content-Length");
    length = 0;
  }
  if (*length > kMaxBodyBytes) return Malformed("body over 64 KiB");
  if (input.size() - headerSize < *length) return ParseOutcome{};

  request.header = header;
  request.body = input.substr(headerSize, *length);
  return {ParseOutcome::kComplete, headerSize + *length, {}};
}

}  // namespace gwsim
