#include "support/SocketErrorName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/SocketError.h"

namespace {

// The rows that are easy to get wrong: the two CANCELLED and the two NO_MORE names differ.
TEST(SocketErrorName, NamesItsNumbers) {
  const std::pair<int, const char*> rows[] = {
      {10035, "WSAEWOULDBLOCK"}, {10054, "WSAECONNRESET"}, {10038, "WSAENOTSOCK"}, {11001, "WSAHOST_NOT_FOUND"},
      {10111, "WSA_E_CANCELLED"}, {10103, "WSAECANCELLED"}, {10110, "WSA_E_NO_MORE"}, {10102, "WSAENOMORE"}};
  for (const auto& [number, name] : rows) EXPECT_STREQ(SocketErrorName(number), name) << number;
  EXPECT_EQ(SocketErrorName(10046), nullptr);
}

// Every Linux error that is given a Windows number gets a name with it.
TEST(SocketErrorFromErrno, LinuxErrorsGetTheirWindowsNames) {
  const std::pair<int, const char*> cases[] = {{ECONNRESET, "WSAECONNRESET"}, {EAGAIN, "WSAEWOULDBLOCK"},
                                               {ENOTSOCK, "WSAENOTSOCK"},     {EPIPE, "WSAESHUTDOWN"},
                                               {ECANCELED, "WSAECANCELLED"},  {EPERM, "WSAEACCES"}};
  for (const auto& [err, name] : cases) EXPECT_STREQ(SocketErrorName(platform::SocketErrorFromErrno(err)), name) << err;
  for (int err = 1; err < 4096; ++err) {
    const int wsa = platform::SocketErrorFromErrno(err);
    EXPECT_TRUE(wsa == -err || SocketErrorName(wsa) != nullptr) << "errno " << err << " gave " << wsa;
  }
}

TEST(SocketErrorText, NamesThenUnknownNumbersThenErrnoText) {
  EXPECT_EQ(platform::SocketErrorFromErrno(EPROTO), -EPROTO);
  EXPECT_EQ(SocketErrorText(-EPROTO), "errno " + std::to_string(EPROTO) + " (" + std::strerror(EPROTO) + ")");
  EXPECT_EQ(SocketErrorText(10038), "WSAENOTSOCK");
  EXPECT_EQ(SocketErrorText(12345), "unknown error 12345");
}

}  // namespace
