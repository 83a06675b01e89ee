// Any bytes as a gateway's answer: the reading never crashes, never takes more bytes than
// the gateway sent, and its body never holds more than it sent, whatever lengths or chunk
// sizes the answer claims.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "delivery/AnswerReader.h"
#include "support/Syslog.h"
#include "tests/common/AnswerBytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int quiet = SetLogThreshold(0);
  (void)quiet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  testing_support::AnswerBytes source(bytes);
  GatewayAnswer answer;
  const bool read = ReadAnswer(source, answer);
  if (answer.body.size() > size - source.Left()) std::abort();
  if (read && answer.status == 0 && bytes.find(' ') == std::string_view::npos) std::abort();
  return 0;
}
