#include "request/HttpData.h"

std::string CHttpData::Header() const {
  if (!header_) return {};
  if (!lengthInside_) return header_->head;
  std::string text;
  const std::string length = std::to_string(body.size());
  text.reserve(header_->head.size() + length.size() + header_->tail.size());
  text.append(header_->head).append(length).append(header_->tail);
  return text;
}

void CHttpData::SetHeader(std::string text) {
  header_ = std::make_shared<const HeaderParts>(HeaderParts{std::move(text), {}});
  lengthInside_ = false;
}

bool CHttpData::SameHeader(const CHttpData& other) const {
  if (header_ == other.header_) return true;
  return Header() == other.Header();
}
