// The request a gateway receives, byte for byte: body, credentials, header and length.
#include "request/HttpDataList.h"

#include <gtest/gtest.h>

#include <string>

#include "request/Base64.h"

namespace {

std::string Header(const std::string& credentials, const std::string& host, std::size_t length) {
  return "POST /quarantine/qacl.cgi HTTP/1.1\r\nAccept: */*\r\nAccept-Language: en-us\r\nAuthorization: Basic " +
         credentials + "\r\nUser-Agent: Velnor/1.0\r\nHost: " + host +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(length) +
         "\r\nCache-Control: no-cache\r\nKeepAlive: timeout=5\r\nConnection: Keep-Alive\r\n\r\n";
}

TEST(HttpDataTest, RequestsOfTheRuleWalks) {
  CHttpData set;
  const char acl[] = "add access-list pc accept protocol tcp source 192.168.0.1 destination 172.17.254.254/32";
  ASSERT_EQ(CHttpDataList::MakeHttpData(set, "admin", "tovin", 1, CHttpDataList::kClient, CHttpDataList::kSet, 1, acl,
                                        "172.16.0.1"),
            1);
  EXPECT_EQ(set.body, std::string("version=1&class=client&opcode=set&count=1&acl=") + acl);
  EXPECT_EQ(set.Header(), Header("YWRtaW46dG92aW4=", "172.16.0.1", set.body.size()));

  CHttpData reset;
  ASSERT_EQ(CHttpDataList::MakeHttpData(reset, "admin", "tovin", 1, CHttpDataList::kQuarantine, CHttpDataList::kReset,
                                        7, nullptr, "10.0.0.1"),
            1);
  EXPECT_EQ(reset.body, "version=1&class=quarantine&opcode=reset&count=0");  // the count is not used
}

TEST(HttpDataTest, CredentialsLengthAndRefusals) {
  CHttpData request;
  // ':' inside user or password is sent as it is; empty ones still give ":".
  ASSERT_EQ(CHttpDataList::MakeHttpData(request, "a:b", "c:d", 1, 1, 1, 1, "x", "h"), 1);
  EXPECT_NE(request.Header().find("Basic " + EncodeBase64("a:b:c:d").value() + "\r\n"), std::string::npos);
  ASSERT_EQ(CHttpDataList::MakeHttpData(request, "", "", 1, 1, 1, 1, "x", "h"), 1);
  EXPECT_NE(request.Header().find("Basic Og==\r\n"), std::string::npos);
  // The length counts bytes: "é" is two.
  ASSERT_EQ(CHttpDataList::MakeHttpData(request, "u", "p", 1, 1, 1, 1, "\xc3\xa9", "h"), 1);
  EXPECT_NE(request.Header().find("Content-Length: 48\r\n"), std::string::npos) << request.body;  // 46 + 2

  for (const auto& [requestClass, opcode] : {std::pair{3, 1}, std::pair{0, 1}, std::pair{1, 4}, std::pair{1, 0}}) {
    CHttpData refused;
    EXPECT_EQ(CHttpDataList::MakeHttpData(refused, "u", "p", 1, requestClass, opcode, 1, "x", "h"), 0);
    EXPECT_EQ(refused.Header() + refused.body, "");
  }
  for (const char* text : {"f", "fo", "foo", "foob", "fooba", "foobar"}) {
    static const char* const kEncoded[] = {"Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    EXPECT_EQ(EncodeBase64(text), kEncoded[std::string(text).size() - 1]);
  }
  EXPECT_EQ(EncodeBase64(""), std::nullopt);
}

TEST(HttpDataTest, FindByEveryFieldButNotBeforeTheFirstMatch) {
  CHttpDataList list;
  CHttpData key;
  key.SetHeader("h");
  key.body = "b";
  key.address = 0x0100007F;
  key.port = 880;
  for (const std::uint16_t port : {8080, 880, 880}) {
    auto* request = new CHttpData(key);
    request->port = port;
    list.AddTail(request, false);
  }
  CNacList::Guard guard(list);
  CHttpData* found = list.FindHttpData(key, guard);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, list.GetNext(list.GetHead(true), true)->Record());  // requests for another port differ
  key.body = "B";
  EXPECT_EQ(list.FindHttpData(key, guard), nullptr);
}

}  // namespace
