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

// The erased sender is still waiting for the slow gateway's answer when it is free by its
// binding and the dispatcher gives it the next gateway: that gateway's request must go to
// that gateway, after the slow answer, and count no failure of the slow one.
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
  client_->EraseHttpQueue(Address(slow.Address()));  // bound to nothing now: no effect, no line
  log_.Settle(500ms);
  EXPECT_EQ(slow.Requests(), AsReceived({first}));
  EXPECT_EQ(log_.Count(7, erased), 1u);
  EXPECT_EQ(log_.Count(7, Answered(Gw(next), "OK")), 1u);
  EXPECT_EQ(log_.Count(7, Answered(Gw(slow), "OK")), 1u) << "the slow answer, named after who gave it";
  EXPECT_EQ(log_.Containing("ACL setting was completed in "), std::vector<std::string>{Completed(Gw(next))});
  EXPECT_TRUE(log_.Containing("re-try").empty());
}

// A sender that could not be started leaves its slot empty, and an empty slot ends the
// search for a free sender: the senders before it carry every gateway, one after another.
TEST_F(DeliveryTest, ASenderThatFailedToStartLeavesTheOnesBeforeItServingEveryGateway) {
  GatewaySimulator first("127.0.0.51", 0);
  GatewaySimulator second("127.0.0.52", 0);
  first.SetBehaviour({.delay = 500ms});
  platform::FailThreadStart(3);  // the message thread, sender 0, then sender 1
  Start();
  platform::FailThreadStart(0);
  ASSERT_TRUE(log_.Await(2, "A CreateHttpThread function is an error."));
  const CHttpData forFirst = Request(first, 1);
  const CHttpData forSecond = Request(second, 2);
  Send({forFirst, forSecond});
  ASSERT_TRUE(log_.Await(6, Completed(Gw(second))));
  EXPECT_EQ(first.Requests(), AsReceived({forFirst}));
  EXPECT_EQ(second.Requests(), AsReceived({forSecond}));
  EXPECT_LT(log_.IndexOf(Completed(Gw(first))), log_.IndexOf(Completed(Gw(second))));
  EXPECT_EQ(log_.Count(2, "A CreateHttpThread function is an error."), 1u);
  // The sender that never ran is destroyed, and so stopped, before the failure is told.
  EXPECT_LT(log_.IndexOf("I delete a queue of an HTTP client thread. No 1. GW(0.0.0.0:0)."),
            log_.IndexOf("A CreateHttpThread function is an error."));
}

// Answers that never end or end badly cost a try (a 3 s receive bound at most) and are
// tried again; what they claim is never allocated.
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

  for (const char* failure : {"There was not a response cord.",
                              "An error occurred at the time of the HTTP response header reception.",
                              "Abnormality occurred at the time of the chunk body reception.",
                              "An error occurred at the time of the HTTP response body reception."}) {
    EXPECT_TRUE(log_.Await(7, failure, 2, 30s)) << failure;
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
// answer after 3 s and tries again later. What the gateway had not taken by then must never
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
  ASSERT_TRUE(log_.Await(7, "An error occurred at the time of the HTTP response header reception.", 1, 6s));
  // The line comes before the sender lets go of the connection: only a reset, not a close
  // (whose end waits behind the unsent rest), ends the gateway's side.
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
  EXPECT_LT(received, request.header.size() + request.body.size());
  EXPECT_EQ(error, ECONNRESET) << "the connection should end with a reset, not a close";
}

// Stopped as the controller stops it, while one sender waits for an answer (up to 3 s) and
// another pauses before its next try (10 s): both end at once, still bound.
TEST_F(RealTimeDeliveryTest, StopEndsWithinASecondWhileSendersWaitAndPause) {
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

  EXPECT_EQ(log_.Count(7, "I delete a queue of an HTTP client thread. No 0. " + Gw(silent) + "."), 1u);
  EXPECT_EQ(log_.Count(7, "I delete a queue of an HTTP client thread. No 1. " + dead + "."), 1u);
  EXPECT_EQ(log_.Count(7, "End processing of an HTTP client was finished."), 1u);
  // A receive cut short by the stop is no failure worth a line, and nothing is tried again.
  EXPECT_EQ(log_.Count(7, "An error occurred at the time of the HTTP response header reception."), 0u);
  EXPECT_EQ(log_.Containing("re-try"), std::vector<std::string>{Remaining(dead, 3)});
  EXPECT_EQ(silent.Requests().size(), 1u);
}

}  // namespace
