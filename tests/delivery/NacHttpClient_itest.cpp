// The dispatcher and its senders delivering prepared requests to simulated gateways on
// loopback: what each gateway receives, how its answers are logged, the tries and pauses
// (on a clock that runs the pauses a hundred times faster) and the sharing of the senders.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "tests/delivery/DeliveryHarness.h"

namespace {

using namespace delivery_testing;
using gwsim::Fault;
using gwsim::GatewaySimulator;

const std::string kAddedNew = "CNacHttpClient::HttpEventSearchHttpClient: I added HTTP data to new queue of ";
const std::string kAdded = "CNacHttpClient::HttpEventSearchHttpClient: I added HTTP data to queue of ";

// Whatever a gateway answers, once the answer is read the request is done: no retry.
TEST_F(DeliveryTest, EveryAnswerConsumesItsRequestAndIsLoggedByStatusAndWord) {
  GatewaySimulator gateway("127.0.0.12", 0);
  const std::string gw = Gw(gateway);
  const struct {
    gwsim::Behaviour behaviour;
    int priority;
    std::string line;
  } cases[] = {
      {{.word = "invalid acl"}, 4, Answered(gw, "invalid acl")},
      {{.word = "OK"}, 4, Answered(gw, "OK")},  // not "ok": the gateway's own text, at 4
      {{.status = 500}, 4, Answered(gw, "500")},
      {{.fault = Fault::kRaw, .raw = "HTTP/1.1 200 OK\r\n\r\n"}, 4, Answered(gw, "")},  // neither length nor chunks
      // No end of header within 4096 bytes: the status is read from those.
      {{.fault = Fault::kRaw, .raw = "HTTP/1.1 503 Busy\r\nX-Pad: " + std::string(5000, 'x')}, 4, Answered(gw, "503")},
  };
  Start();
  std::vector<CHttpData> sent;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::size_t before = log_.Count(c.priority, c.line);
    gateway.SetBehaviour(c.behaviour);
    sent.push_back(Request(gateway, static_cast<int>(sent.size())));
    Send({sent.back()});
    ASSERT_TRUE(log_.Await(c.priority, c.line, before + 1));
    ASSERT_TRUE(log_.Await(6, Completed(gw), sent.size()));
  }
  EXPECT_EQ(gateway.Requests(), AsReceived(sent));
  EXPECT_EQ(gateway.Connections(), sent.size());
  EXPECT_TRUE(log_.Containing("re-try").empty());
}

// A request failed four times is dropped; the next one of that gateway starts afresh after a
// further pause. The 210 s of pauses asked here take about 2 s.
TEST_F(DeliveryTest, FailedTriesArePausedAndTheRequestDroppedAfterTheFourth) {
  GatewaySimulator noLength("127.0.0.13", 0);
  noLength.SetBehaviour({.fault = Fault::kRaw, .raw = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
  const std::string dead = Gw("127.0.0.15", 9);  // nothing listens there
  Start();
  const CHttpData lengthRequest = Request(noLength, 1);
  const auto start = std::chrono::steady_clock::now();
  Send({lengthRequest, Request("127.0.0.15", 9, 3), Request("127.0.0.15", 9, 4)});

  ASSERT_TRUE(log_.Await(4, Dropped(dead), 2, 30s));
  ASSERT_TRUE(log_.Await(4, Dropped(Gw(noLength))));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the pauses did not run on the installed clock";

  std::vector<std::string> tries;
  for (int left = 3; left >= 0; --left) {
    tries.push_back(ConnectionError(dead));
    tries.push_back(Remaining(dead, left));
  }
  tries.push_back(Dropped(dead));
  std::vector<std::string> twice = tries;
  twice.insert(twice.end(), tries.begin(), tries.end());
  EXPECT_EQ(log_.Containing(dead), twice);
  std::vector<std::chrono::steady_clock::time_point> connects;
  for (const LogLine& line : log_.Settle()) {
    if (line.text == ConnectionError(dead) && line.priority == 7) connects.push_back(line.at);
  }
  ASSERT_EQ(connects.size(), 8u);
  // The first request's pauses, 10 + 20 + 30 s, run here in 600 ms; a try that did not wait
  // would come within a few.
  EXPECT_GE(connects[3] - connects[0], 300ms);
  // 10, 20 and 30 s after the first three tries of each request, and 30 s after the drop
  // that leaves a request waiting.
  EXPECT_EQ(clock_->Asked(),
            (std::vector<std::uint32_t>{10000, 10000, 10000, 20000, 20000, 20000, 30000, 30000, 30000, 30000}));

  const std::string gw = Gw(noLength);
  EXPECT_EQ(log_.Containing(gw), (std::vector<std::string>{Remaining(gw, 3), Remaining(gw, 2), Remaining(gw, 1),
                                                           Remaining(gw, 0), Dropped(gw)}));
  EXPECT_EQ(noLength.Requests(), AsReceived({lengthRequest, lengthRequest, lengthRequest, lengthRequest}));
  EXPECT_EQ(noLength.Connections(), 4u);
  EXPECT_EQ(log_.Count(7, "HTTP response header abnormality occurred."), 4u);
}

// Five gateways bind the five senders; the sixth waits until one is free. A second request
// for a bound address joins that queue, even for another port, and goes where the first went.
// A queue goes byte for byte over one connection.
TEST_F(DeliveryTest, SixGatewaysShareFiveSendersAndAnAddressKeepsOneQueue) {
  std::vector<std::unique_ptr<GatewaySimulator>> gateways;
  for (int i = 1; i <= 6; ++i) gateways.push_back(std::make_unique<GatewaySimulator>("127.0.0.2" + std::to_string(i), 0));
  // The first five are still answering while the dispatcher's first pass places the sibling
  // behind the first and finds no sender for the sixth; they answer well within the time an
  // answer may keep its sender, so none gives its sender up early.
  const auto answering = std::chrono::duration_cast<std::chrono::milliseconds>(DeliveryLoop::kAnswerGrace) / 2;
  for (int i = 0; i < 5; ++i) gateways[i]->SetBehaviour({.delay = answering});
  // The sixth's first answer is as slow, so that its queue does not run dry while the
  // dispatcher still places the rest of the batch behind it; the rest are answered at once.
  gateways[5]->SetBehaviour({.delay = answering});
  Start();
  std::vector<CHttpData> requests;
  for (int i = 0; i < 6; ++i) requests.push_back(Request(*gateways[i], i));
  const GatewaySimulator& first = *gateways[0];
  const CHttpData sibling = Request(first.Address(), static_cast<std::uint16_t>(first.Port() + 1), 6);
  requests.push_back(sibling);
  const GatewaySimulator& sixth = *gateways[5];
  std::vector<CHttpData> batch{requests[5]};
  for (int n = 7; n < 17; ++n) batch.push_back(Request(sixth, n));
  requests.insert(requests.end(), batch.begin() + 1, batch.end());
  Send(requests);
  ASSERT_TRUE(gateways[5]->WaitForRequests(1, 10s));
  gateways[5]->SetBehaviour({});

  for (const auto& gateway : gateways) ASSERT_TRUE(log_.Await(6, Completed(Gw(*gateway)))) << gateway->Address();
  std::size_t firstFree = SIZE_MAX;
  for (int i = 0; i < 6; ++i) {
    const GatewaySimulator& gateway = *gateways[i];
    SCOPED_TRACE(gateway.Address());
    EXPECT_EQ(log_.Count(7, kAddedNew + gateway.Address() + "."), 1u);
    EXPECT_EQ(log_.Count(6, Completed(Gw(gateway))), 1u);
    if (i > 0 && i < 5) {
      EXPECT_EQ(gateway.Requests(), AsReceived({requests[i]}));
    }
    if (i < 5) firstFree = std::min(firstFree, log_.IndexOf(Completed(Gw(gateway))));
  }
  EXPECT_GT(log_.IndexOf(kAddedNew + "127.0.0.26."), firstFree) << "the sixth was placed before a sender was free";
  EXPECT_EQ(log_.Count(7, kAdded + "127.0.0.21."), 1u);
  EXPECT_EQ(first.Requests(), AsReceived({requests[0], sibling}));
  EXPECT_EQ(first.Connections(), 1u);
  EXPECT_EQ(sixth.Requests(), AsReceived(batch));
  EXPECT_EQ(sixth.Connections(), 1u);
  EXPECT_EQ(log_.Count(7, kAdded + "127.0.0.26."), batch.size() - 1);
  EXPECT_EQ(log_.Count(7, Answered(Gw(sixth), "OK")), batch.size());
  EXPECT_EQ(log_.Count(7, "HTTP body is " + batch.back().body), 1u);
  EXPECT_TRUE(GetPendingHttpDataList().IsEmpty(false));
}

}  // namespace
