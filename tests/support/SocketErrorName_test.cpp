#include "support/SocketErrorName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "platform/SocketError.h"

namespace {

TEST(SocketErrorName, NotedRowsAndSixtyOneDistinctNumbers) {
  const std::pair<int, const char*> rows[] = {
      {10035, "WSAEWOULDBLOCK"}, {10054, "WSAECONNRESET"}, {11001, "WSAHOST_NOT_FOUND"}, {10111, "WSA_E_CANCELLED"},
      {10103, "WSAECANCELLED"},  {10110, "WSA_E_NO_MORE"}, {10102, "WSAENOMORE"},        {10093, "WSANOTINITIALISED"},
      {10112, "WSAEREFUSED"},    {11004, "WSANO_DATA"},    {10004, "WSAEINTR"},          {10071, "WSAEREMOTE"}};
  for (const auto& [number, name] : rows) EXPECT_STREQ(SocketErrorName(number), name) << number;

  std::set<std::string> names;
  int numbers = 0;
  for (int error = -1000; error <= 20000; ++error) {
    if (const char* name = SocketErrorName(error)) {
      ++numbers;
      names.insert(name);
    }
  }
  EXPECT_EQ(numbers, 61);
  EXPECT_EQ(names.size(), 61u);
  EXPECT_EQ(SocketErrorName(10046), nullptr);
}

TEST(SocketErrorFromErrno, LinuxErrorsGetTheirWindowsNames) {
  const std::pair<int, const char*> cases[] = {
      {ECONNRESET, "WSAECONNRESET"}, {ECONNREFUSED, "WSAECONNREFUSED"}, {EAGAIN, "WSAEWOULDBLOCK"},
      {EINPROGRESS, "WSAEINPROGRESS"}, {ENOTSOCK, "WSAENOTSOCK"},       {ECANCELED, "WSAECANCELLED"},
      {EPIPE, "WSAESHUTDOWN"},         {ENFILE, "WSAEMFILE"},           {ENOMEM, "WSAENOBUFS"},
      {EPERM, "WSAEACCES"}};
  for (const auto& [err, name] : cases) EXPECT_STREQ(SocketErrorName(platform::SocketErrorFromErrno(err)), name) << err;

  int mapped = 0;
  for (int err = 1; err < 4096; ++err) {
    const int wsa = platform::SocketErrorFromErrno(err);
    if (wsa == -err) continue;
    ++mapped;
    EXPECT_NE(SocketErrorName(wsa), nullptr) << "errno " << err << " gave " << wsa;
  }
  EXPECT_GE(mapped, 45);
}

TEST(SocketErrorText, NamesThenUnknownNumbersThenErrnoText) {
  EXPECT_EQ(platform::SocketErrorFromErrno(EPROTO), -EPROTO);
  EXPECT_EQ(SocketErrorText(-EPROTO),
            "errno " + std::to_string(EPROTO) + " (" + std::strerror(EPROTO) + ")");
  EXPECT_EQ(SocketErrorText(10038), "WSAENOTSOCK");
  EXPECT_EQ(SocketErrorText(12345), "unknown error 12345");
}

}  // namespace
