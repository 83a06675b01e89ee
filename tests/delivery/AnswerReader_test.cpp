// Reading a gateway's answer: status, body by length or by chunks, and every way an answer
// can be broken. Whatever a gateway claims, nothing is read beyond what it sends.
#include "delivery/AnswerReader.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "support/Syslog.h"
#include "tests/common/AnswerBytes.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

TEST(AnswerReaderTest, AnswersAndBrokenAnswers) {
  const std::string big(5000, 'x');
  const struct {
    std::string bytes;
    bool read;
    int status;
    const char* body;
    std::size_t left;  // bytes of the answer not consumed
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokNEXT", true, 200, "ok", 4},
      {"HTTP/1.1 200 OK\r\ncontent-length:\t7\r\n\r\nno list", true, 200, "no list", 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", true, 200, "ok", 2},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n1\r\no\r\n1;x\r\nk\r\n0\r\n", true, 200, "ok", 0},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", true, 404, "x", 0},
      {"HTTP/1.1 200 OK\r\n\r\nok", true, 200, "", 2},  // neither length nor chunks: no body
      {"HTTP/1.1 200 OK\r\n" + big, true, 200, "", 5000 + 17 - 4096},  // the status of the first 4096 bytes
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200, "", 0},
      {"HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", false, 200, "", 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nok", false, 200, "", 2},  // 32 bits: 0
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\nok", false, 200, "ok", 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffff\r\nok", false, 200, "ok", 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n", false, 200, "ok", 0},
      {"HTTP/1.1200OK\r\n\r\n", false, 0, "", 0},
      {"HTTP/1.1 200 OK\r\nContent-Le", false, 0, "", 0},
      {"", false, 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 80));
    testing_support::AnswerBytes source(c.bytes);
    GatewayAnswer answer;
    EXPECT_EQ(ReadAnswer(source, answer), c.read);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.body, c.body);
    EXPECT_EQ(source.Left(), c.left);
  }
}

// Memory that runs out while a body grows fails the try; it must not end the sender's thread.
TEST(AnswerReaderTest, NoRoomForTheBodyFailsTheTry) {
  class NoRoomAfterHeader final : public AnswerSource {
   public:
    int RecvUntil(std::string& buffer, std::size_t, const char* terminator) override {
      if (terminator == nullptr) throw std::bad_alloc();
      buffer += "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
      return static_cast<int>(buffer.size());
    }
    bool Stopped() const override { return false; }
  } source;
  GatewayAnswer answer;
  EXPECT_FALSE(ReadAnswer(source, answer));
  EXPECT_EQ(answer.status, 200);
}

}  // namespace
