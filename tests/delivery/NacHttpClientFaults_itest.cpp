// Delivery when things go wrong around a sender: its queue erased while it is busy, gateways
// that answer badly or not at all, and a stop while senders wait or pause.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"
#include "tests/delivery/DeliveryHarness.h"

namespace {

using namespace delivery_testing;
using gwsim::Fault;
using gwsim::GatewaySimulator;

#if defined(__SANITIZE_THREAD__)
constexpr long kResidentGrowthKb = 48 * 1024;  // the sanitizer's own records of each new thread
#else
constexpr long kResidentGrowthKb = 8 * 1024;
#endif

// A queue erased while its gateway is slow to answer: the exchange is abandoned at once, the
// rest is never sent, no failure is counted, and the sender serves the next gateway afresh.
TEST_F(DeliveryTest, ErasedQueueIsNotSentAndItsSenderTakesTheNextGatewayAfresh) {
  GatewaySimulator slow("127.0.0.31", 0);
  GatewaySimulator next("127.0.0.32", 0);
  slow.SetBehaviour({.delay = 1000ms});
  Start();
  const CHttpData first = Request(slow, 1);
  Send({first, Request(slow, 2), Request(slow, 3)});
  ASSERT_TRUE(slow.WaitForRequests(1, 5s));
  // The first is sent as soon as it is placed: the other two may still be on their way to the
  // queue, and one placed after the erase would bind the slow gateway afresh.
  const std::string added = "CNacHttpClient::HttpEventSearchHttpClient: I added HTTP data to queue of 127.0.0.31.";
  ASSERT_TRUE(log_.Await(7, added, 2));
  client_->EraseHttpQueue(Address(slow.Address()));
  const std::string erased = "I erased an HTTP transmission of a message queue to " + Gw(slow) + ".";
  ASSERT_TRUE(log_.Await(7, erased));

  const CHttpData forNext = Request(next, 4);
  Send({forNext});
  ASSERT_TRUE(log_.Await(6, Completed(Gw(next))));
  EXPECT_EQ(next.Requests(), AsReceived({forNext}));
  client_->EraseHttpQueue(Address(slow.Address()));  // no queue now: no effect, no line
  log_.Settle(1500ms);  // past the slow answer
  EXPECT_EQ(slow.Requests(), AsReceived({first}));
  EXPECT_EQ(log_.Count(7, erased), 1u);
  EXPECT_EQ(log_.Count(7, Answered(Gw(next), "OK")), 1u);
  EXPECT_EQ(log_.Containing(Gw(slow)), std::vector<std::string>{erased}) << "only the erase names the slow gateway";
  EXPECT_EQ(log_.Containing("ACL setting was completed in "), std::vector<std::string>{Completed(Gw(next))});
  EXPECT_TRUE(log_.Containing("re-try").empty());
}

// Answers that end badly cost a try (a 3 s receive bound at most) and are tried again; what
// they claim is never allocated.
TEST_F(DeliveryTest, BadGatewaysFailTheirTriesInBoundedMemory) {
  const std::string trickle(16384, 'x');
  GatewaySimulator garbage("127.0.0.41", 0);
  GatewaySimulator cut("127.0.0.42", 0);
  GatewaySimulator hugeChunk("127.0.0.43", 0);
  GatewaySimulator hugeLength("127.0.0.44", 0);
  garbage.SetBehaviour({.fault = Fault::kGarbage});
  cut.SetBehaviour({.fault = Fault::kCloseMidAnswer});
  hugeChunk.SetBehaviour(
      {.fault = Fault::kRaw, .raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffff\r\n" + trickle});
  hugeLength.SetBehaviour(
      {.fault = Fault::kRaw, .raw = "HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n" + trickle});
  Start();
  const long residentKb = StatusKb("VmRSS");
  const long peakKb = StatusKb("VmPeak");
  const std::vector<GatewaySimulator*> bad = {&garbage, &cut, &hugeChunk, &hugeLength};
  std::vector<CHttpData> badRequests;
  for (std::size_t i = 0; i < bad.size(); ++i) badRequests.push_back(Request(*bad[i], static_cast<int>(i)));
  Send(badRequests);

  EXPECT_TRUE(log_.Await(7, "There was not a response cord.", 2, 30s));
  EXPECT_TRUE(log_.Await(7, "An error occurred at the time of the HTTP response header reception.", 2, 30s));
  // What is claimed past the bound is refused before it is read.
  for (const GatewaySimulator* claims : {&hugeChunk, &hugeLength}) {
    EXPECT_TRUE(log_.Await(4, "The answer of " + Gw(*claims) + " is larger than 65536 bytes.", 2, 30s));
  }
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(bad[i]->Address());
    ASSERT_TRUE(bad[i]->WaitForRequests(2, 10s));
    const auto received = bad[i]->Requests();
    EXPECT_EQ(received, AsReceived(std::vector<CHttpData>(received.size(), badRequests[i])));
    EXPECT_EQ(log_.Count(7, Remaining(Gw(*bad[i]), 3)), 1u);
  }
  EXPECT_LT(StatusKb("VmRSS") - residentKb, kResidentGrowthKb) << "kB more resident";
  EXPECT_LT(StatusKb("VmPeak") - peakKb, 2 * 1024 * 1024) << "kB more mapped at the peak";
  for (const LogLine& line : log_.Settle()) EXPECT_GE(line.priority, 4) << line.text;
}

// Five gateways that take connections and never answer, one whose answer trickles for ever
// and one whose answer never ends: none holds back a healthy gateway, which has its whole set
// long before any of them is tried a second time (10 s after its first try at the earliest).
// The endless answers fail at their bounds: the whole answer's 10 s, and its size.
TEST_F(RealTimeDeliveryTest, StuckAndEndlessGatewaysDoNotHoldBackAHealthyOne) {
  std::vector<std::unique_ptr<GatewaySimulator>> bad;
  for (int host = 71; host <= 75; ++host) {
    bad.push_back(std::make_unique<GatewaySimulator>("127.0.0." + std::to_string(host), 0));
    bad.back()->SetBehaviour({.fault = Fault::kSilent});
  }
  bad.push_back(std::make_unique<GatewaySimulator>("127.0.0.76", 0));
  const GatewaySimulator& trickle = *bad.back();
  bad.back()->SetBehaviour({.fault = Fault::kTrickle, .trickleEvery = 1s});
  bad.push_back(std::make_unique<GatewaySimulator>("127.0.0.77", 0));
  const GatewaySimulator& endless = *bad.back();
  bad.back()->SetBehaviour({.fault = Fault::kEndless});
  GatewaySimulator healthy("127.0.0.78", 0);
  Start();
  std::vector<CHttpData> badRequests;
  for (const auto& gateway : bad) badRequests.push_back(Request(*gateway, static_cast<int>(badRequests.size())));
  Send(badRequests);
  for (const auto& gateway : bad) ASSERT_TRUE(gateway->WaitForRequests(1, 5s)) << gateway->Address();
  const long residentKb = StatusKb("VmRSS");

  std::vector<CHttpData> set;
  for (int n = 0; n < 52; ++n) set.push_back(Request(healthy, 100 + n));
  Send(set);
  ASSERT_TRUE(healthy.WaitForRequests(set.size(), 20s));
  EXPECT_EQ(healthy.Requests(), AsReceived(set));
  // On a busy machine the queue may drain before the dispatcher has placed the rest: then it
  // completes, and a new queue takes the rest on a new connection. Never a second try.
  EXPECT_TRUE(log_.Await(6, Completed(Gw(healthy)), healthy.Connections(), 5s));
  EXPECT_EQ(log_.Count(7, Remaining(Gw(healthy), 3)), 0u);
  for (const auto& gateway : bad) EXPECT_EQ(gateway->Requests().size(), 1u) << gateway->Address();

  EXPECT_TRUE(log_.Await(4, "The answer of " + Gw(trickle) + " did not end within 10 s.", 1, 20s));
  EXPECT_TRUE(log_.Await(4, "The answer of " + Gw(endless) + " is larger than 65536 bytes.", 1, 20s));
  EXPECT_TRUE(log_.Await(7, Remaining(Gw(trickle), 3)));
  EXPECT_LT(StatusKb("VmRSS") - residentKb, kResidentGrowthKb) << "kB more resident";
}

// Whether a connected socket reaches TCP's closed state (a reset received) within timeout.
bool AwaitClosedState(int fd, std::chrono::milliseconds timeout) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return false;
    if (info.tcpi_state == TCP_CLOSE) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

// A gateway that stops reading (as one behind a broken link does): the sender gives up on the
// try after 3 s and tries again later. What the gateway had not taken by then must never
// reach it afterwards, or a retried request would arrive twice, or after later ones.
TEST_F(DeliveryTest, AConnectionGivenUpOnIsResetSoItsUnsentRestNeverArrives) {
  const platform::UniqueSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int smallest = 1;  // the kernel's least window: the request cannot be taken in whole
  ASSERT_EQ(::setsockopt(listener.Get(), SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest), 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = Address("127.0.0.61");
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener.Get(), 4), 0);
  ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&at), &length), 0);

  CHttpData request = Request("127.0.0.61", ntohs(at.sin_port), 1);
  request.body += std::string(200000, 'x');  // far more than its window, well within our send buffer
  Start();
  Send({request});
  pollfd waiting{listener.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&waiting, 1, 5000), 1);
  const platform::UniqueSocket gateway(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  // Whether the rest stalls in the send or the answer never comes, the try fails within 3 s.
  ASSERT_TRUE(log_.Await(7, Remaining(Gw("127.0.0.61", ntohs(at.sin_port)), 3), 1, 6s));
  // Only a reset, not a close (whose end waits behind the unsent rest), ends the gateway's side.
  ASSERT_TRUE(AwaitClosedState(gateway.Get(), 10s)) << "the gateway's side never saw the connection end";

  // Now the gateway reads: a kernel that still held the rest would send it now.
  std::size_t received = 0;
  int error = 0;
  for (const auto deadline = std::chrono::steady_clock::now() + 2s; std::chrono::steady_clock::now() < deadline;) {
    pollfd readable{gateway.Get(), POLLIN, 0};
    if (::poll(&readable, 1, 100) != 1) continue;
    char bytes[4096];
    const ssize_t n = ::recv(gateway.Get(), bytes, sizeof bytes, 0);
    if (n <= 0) {
      error = n < 0 ? errno : 0;
      break;
    }
    received += static_cast<std::size_t>(n);
  }
  EXPECT_LT(received, request.Header().size() + request.body.size());
  EXPECT_EQ(error, ECONNRESET) << "the connection should end with a reset, not a close";
}

// Stopped as the controller stops it, while one gateway waits for an answer (up to 3 s) and
// another pauses before its next try (10 s): both end at once, and nothing is tried again.
TEST_F(RealTimeDeliveryTest, StopEndsWithinASecondWhileGatewaysWaitAndPause) {
  GatewaySimulator silent("127.0.0.51", 0);
  silent.SetBehaviour({.fault = Fault::kSilent});
  const std::string dead = Gw("127.0.0.52", 9);
  Start();
  Send({Request(silent, 1), Request("127.0.0.52", 9, 2)});
  ASSERT_TRUE(silent.WaitForRequests(1, 2s));
  ASSERT_TRUE(log_.Await(7, Remaining(dead, 3), 1, 2s));

  const auto stopping = std::chrono::steady_clock::now();
  ASSERT_TRUE(client_->PostQuit());
  client_->WaitForEnd();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
  EXPECT_FALSE(client_->EventSend());
  client_.reset();

  EXPECT_EQ(log_.Count(7, "End processing of an HTTP client was finished."), 1u);
  // A receive cut short by the stop is no failure worth a line, and nothing is tried again.
  EXPECT_EQ(log_.Count(7, "An error occurred at the time of the HTTP response header reception."), 0u);
  EXPECT_EQ(log_.Containing("re-try"), std::vector<std::string>{Remaining(dead, 3)});
  EXPECT_EQ(silent.Requests().size(), 1u);
}

}  // namespace
