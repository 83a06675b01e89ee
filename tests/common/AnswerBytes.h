#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "delivery/AnswerReader.h"

namespace testing_support {

// A gateway's answer as a buffer: what RecvUntil takes from it is what a socket would have
// given; running out of bytes is the time-out of a peer that sent no more.
class AnswerBytes final : public AnswerSource {
 public:
  explicit AnswerBytes(std::string_view bytes) : bytes_(bytes) {}

  int RecvUntil(std::string& buffer, std::size_t size, const char* terminator) override {
    const std::size_t first = buffer.size();
    const std::size_t terminatorLength = terminator != nullptr ? std::strlen(terminator) : 0;
    for (std::size_t count = 0; count < size;) {
      if (at_ == bytes_.size()) return -1;
      buffer += bytes_[at_++];
      ++count;
      if (terminatorLength > 0 && buffer.size() - first >= terminatorLength &&
          buffer.compare(buffer.size() - terminatorLength, terminatorLength, terminator) == 0) {
        return static_cast<int>(count);
      }
    }
    return static_cast<int>(size);
  }
  bool Stopped() const override { return false; }

  std::size_t Left() const { return bytes_.size() - at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

}  // namespace testing_support
