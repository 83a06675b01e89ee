// A gateway's answer fed as a socket gives it: status, body by length or by chunks, every way
// an answer can be broken or cut, and the bytes taken, which must stop exactly where the
// answer ends whatever pieces the bytes come in.
#include "delivery/AnswerParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Failure = AnswerParser::Failure;

constexpr char kHeaderLost[] = "An error occurred at the time of the HTTP response header reception.";
constexpr char kBodyLost[] = "An error occurred at the time of the HTTP response body reception.";
constexpr char kChunkLineLost[] = "I failed in the acquisition of chunk size.";
constexpr char kChunkDataLost[] = "Abnormality occurred at the time of the chunk body reception.";

struct Outcome {
  bool done = false;
  Failure failure = Failure::kNone;
  int status = 0;
  std::string body;
  std::size_t taken = 0;
  std::string lost;  // what a close would log now: empty once done or failed
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "{done " << o.done << ", failure " << static_cast<int>(o.failure) << ", status " << o.status
       << ", body of " << o.body.size() << ", taken " << o.taken << ", lost \"" << o.lost << "\"}";
}

// Feeds the bytes in pieces cut at the given offsets (ascending), as a sender that peeks
// each time more has arrived and receives what was taken. What must hold between the
// parser's answers whatever the bytes is the fuzz target's to check.
Outcome Parse(const std::string& bytes, const std::vector<std::size_t>& cuts = {}) {
  AnswerParser parser;
  Outcome o;
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(bytes.size());
  for (const std::size_t end : ends) {
    o.taken += parser.Feed(bytes.data() + from, end - from);
    from = end;
  }
  o.done = parser.Done();
  o.failure = parser.failure();
  o.status = parser.Status();
  o.body = parser.Body();
  const char* lost = parser.ReceptionFailureText();
  o.lost = lost != nullptr ? lost : "";
  return o;
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";

TEST(AnswerParserTest, AnswersBrokenAnswersAndCutAnswers) {
  const std::string longHeader = kOk + std::string(5000, 'x') + "\r\nContent-Length: 2\r\n\r\nok";
  const std::string overflow = kOk + "Content-Length: 18446744073709551617\r\n\r\n";
  const struct {
    std::string bytes;
    Outcome expected;
  } cases[] = {
      {kOk + "Content-Length: 2\r\n\r\nokNEXT", {true, Failure::kNone, 200, "ok", 40, ""}},
      {kOk + "content-LENGTH:\t7\r\n\r\nno list", {true, Failure::kNone, 200, "no list", 45, ""}},
      {kOk + "Content-Length: 000000000000000000002\r\n\r\nok", {true, Failure::kNone, 200, "ok", 60, ""}},
      // The empty line after the last chunk stays for whoever reads next.
      {kChunked + "2\r\nok\r\n0\r\n\r\n", {true, Failure::kNone, 200, "ok", 57, ""}},
      {kOk + "TRANSFER-ENCODING: Chunked\r\n\r\n1\r\no\r\n1;x\r\nk\r\n0\r\n",
       {true, Failure::kNone, 200, "ok", 64, ""}},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", {true, Failure::kNone, 404, "x", 46, ""}},
      {"HTTP/1.1 99999999999 Big\r\n\r\n", {true, Failure::kNone, 999999, "", 28, ""}},
      // Neither a length nor chunks: nothing after the header is taken.
      {kOk + "\r\nok", {true, Failure::kNone, 200, "", 19, ""}},
      // No empty line within 4096 bytes: those are the header, and the length after them is not seen.
      {longHeader, {true, Failure::kNone, 200, "", 4096, ""}},
      {"HTTP/1.1200OK\r\n\r\n", {false, Failure::kNoStatus, 0, "", 17, ""}},
      {std::string("HTTP/1.1\0 200 OK\r\n\r\n", 20), {false, Failure::kNoStatus, 0, "", 20, ""}},
      {kOk + "Content-Length: 0\r\n\r\nok", {false, Failure::kHeaderAbnormal, 200, "", 38, ""}},
      {kOk + "Content-Length:\r\n\r\nok", {false, Failure::kHeaderAbnormal, 200, "", 36, ""}},
      {kOk + "Content-Length: 4294967296\r\n\r\nok", {false, Failure::kHeaderAbnormal, 200, "", 47, ""}},
      {overflow + "ok", {false, Failure::kHeaderAbnormal, 200, "", overflow.size(), ""}},
      // Past the body bound but within 32 bits: refused on the claim.
      {kOk + "Content-Length: 4294967295\r\n\r\nok", {false, Failure::kTooLarge, 200, "", 47, ""}},
      {kOk + "Content-Length: 65537\r\n\r\nok", {false, Failure::kTooLarge, 200, "", 42, ""}},
      {kChunked + "ffffffff\r\nok", {false, Failure::kTooLarge, 200, "", 57, ""}},
      // Cut in each phase: a close now logs the line of that phase.
      {"", {false, Failure::kNone, 0, "", 0, kHeaderLost}},
      {kOk + "Content-Le", {false, Failure::kNone, 0, "", 27, kHeaderLost}},
      {kOk + "Content-Length: 7\r\n\r\nok", {false, Failure::kNone, 200, "ok", 40, kBodyLost}},
      {kChunked + "2\r\nok\r", {false, Failure::kNone, 200, "ok", 53, kChunkLineLost}},
      {kChunked + "5\r\nok", {false, Failure::kNone, 200, "ok", 52, kChunkDataLost}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 80));
    const Outcome whole = Parse(c.bytes);
    EXPECT_EQ(whole, c.expected);
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < c.bytes.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(Parse(c.bytes, everyByte), whole);
    if (c.bytes.size() > 200) continue;
    for (std::size_t i = 0; i <= c.bytes.size(); ++i) EXPECT_EQ(Parse(c.bytes, {i}), whole) << "cut at " << i;
  }
}

// Two answers back to back on one connection: the first takes exactly its bytes and the
// second reads whole from what is left.
TEST(AnswerParserTest, TheNextAnswerIsLeftWhole) {
  const std::string first = kChunked + "3\r\nabc\r\n0\r\n";
  const std::string second = kOk + "Content-Length: 7\r\n\r\nno list";
  const std::string both = first + second;
  AnswerParser parser;
  ASSERT_EQ(parser.Feed(both.data(), both.size()), first.size());
  EXPECT_EQ(parser.Body(), "abc");
  EXPECT_EQ(parser.Feed(both.data() + first.size(), second.size()), 0u);
  AnswerParser next;
  EXPECT_EQ(next.Feed(both.data() + first.size(), second.size()), second.size());
  EXPECT_TRUE(next.Done());
  EXPECT_EQ(next.Body(), "no list");
}

// The bound holds for a body by length and for all chunks together; a body of exactly the
// bound is read.
TEST(AnswerParserTest, BodyBound) {
  const std::string full(AnswerParser::kMaxBody, 'b');
  const std::string bounded = kOk + "Content-Length: 65536\r\n\r\n" + full;
  EXPECT_EQ(Parse(bounded), (Outcome{true, Failure::kNone, 200, full, bounded.size(), ""}));

  const std::string firstChunk = kChunked + "ffff\r\n" + full.substr(1) + "\r\n";
  const std::string filled = firstChunk + "1\r\nb\r\n0\r\n";
  EXPECT_EQ(Parse(filled), (Outcome{true, Failure::kNone, 200, full, filled.size(), ""}));
  // Over by one: refused at the size line, none of the chunk taken.
  const Outcome over = Parse(firstChunk + "2\r\nbb\r\n0\r\n");
  EXPECT_EQ(over.failure, Failure::kTooLarge);
  EXPECT_EQ(over.taken, firstChunk.size() + 3);
  EXPECT_EQ(over.body.size(), AnswerParser::kMaxBody - 1);
}

// Each bounded receive (header, body, each chunk line, each chunk's data) moves the step
// once, when it begins; bytes within one leave it.
TEST(AnswerParserTest, StepMovesAtEachReceive) {
  const std::string chunked = kChunked + "2\r\nok\r\n0\r\n";
  const std::string byLength = kOk + "Content-Length: 2\r\n\r\nok";
  for (const auto& [bytes, expected] : {
           std::pair{chunked, std::vector<std::size_t>{kChunked.size(), kChunked.size() + 3, kChunked.size() + 5,
                                                       kChunked.size() + 7}},
           std::pair{byLength, std::vector<std::size_t>{byLength.size() - 2}},
       }) {
    SCOPED_TRACE(bytes);
    AnswerParser parser;
    std::vector<std::size_t> moves;  // the offsets after which the step moved
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::uint32_t before = parser.Step();
      ASSERT_EQ(parser.Feed(&bytes[i], 1), 1u);
      if (parser.Step() != before) {
        EXPECT_EQ(parser.Step(), before + 1);
        moves.push_back(i + 1);
      }
    }
    EXPECT_TRUE(parser.Done());
    EXPECT_EQ(moves, expected);
  }
}

}  // namespace
