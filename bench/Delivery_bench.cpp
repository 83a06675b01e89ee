// Requests per second from the delivery to simulated gateways on loopback. One gateway over
// one connection: a batch of requests appended to the pending list and sent on EventSend,
// timed until the gateway has read them all; beside it a minimal client in this file that
// sends the same requests over one connection and reads each answer one byte per receive
// call (the limit of that exchange on this machine), and the same client reading in large
// blocks (the limit of the connection). Then five gateways at once through the five senders.
// The figures are medians of a few runs, with the log threshold at 3 so that the per-request
// lines (priority 7) are not sent; one more figure has them all sent to a UDP sink.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/Require.h"
#include "delivery/NacHttpClient.h"
#include "gwsim/GatewaySimulator.h"
#include "platform/UniqueFd.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"

namespace {

using Clock = std::chrono::steady_clock;
using gwsim::GatewaySimulator;

constexpr int kBatch = 2000;
constexpr int kRuns = 7;
constexpr int kGateways = 5;

std::vector<CHttpData> Requests(const GatewaySimulator& gateway, int count) {
  std::vector<CHttpData> requests(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) {
    const std::string acl = "add access-list pc accept protocol tcp source 192.168." + std::to_string(n / 250) + "." +
                            std::to_string(n % 250 + 1) + " destination 172.17.254.254/32";
    CHttpData& request = requests[static_cast<std::size_t>(n)];
    Require(CHttpDataList::MakeHttpData(request, "admin", "tovin", 1, CHttpDataList::kClient, CHttpDataList::kSet,
                                        1, acl.c_str(), gateway.Address()) == 1,
            "request");
    request.address = ::inet_addr(gateway.Address().c_str());
    request.port = gateway.Port();
  }
  return requests;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One figure: count requests per run of run().
struct Measure {
  int count;
  std::function<void()> run;
  std::vector<double> rates;
};

// The medians of kRuns runs of each, in turns, so that the load of a shared machine falls
// on all of them alike.
std::vector<double> Medians(std::vector<Measure>& measures) {
  for (int i = 0; i < kRuns; ++i) {
    for (Measure& measure : measures) {
      const auto start = Clock::now();
      measure.run();
      measure.rates.push_back(measure.count / std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  std::vector<double> medians;
  for (const Measure& measure : measures) medians.push_back(Median(measure.rates));
  return medians;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench: %s\n", what);
  std::exit(1);
}

// Appends every batch to the pending list at once, wakes the dispatcher and waits until each
// gateway has read its whole batch.
void Deliver(CNacHttpClient& client, const std::vector<GatewaySimulator*>& gateways,
             const std::vector<std::vector<CHttpData>>& batches) {
  std::vector<std::uint64_t> expected;
  for (std::size_t i = 0; i < gateways.size(); ++i) expected.push_back(gateways[i]->Stats().requests + batches[i].size());
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    for (const auto& batch : batches) {
      for (const CHttpData& request : batch) pending.AddTail(new CHttpData(request), guard);
    }
  }
  if (!client.EventSend()) Fail("EventSend failed");
  for (std::size_t i = 0; i < gateways.size(); ++i) {
    if (!gateways[i]->WaitForRequests(expected[i], std::chrono::minutes(2))) Fail("a gateway did not get its batch");
  }
}

// The minimal client: the requests as the delivery sent them (as the gateway read them) over one
// connection, header and body as two sends, each answer read to its end by Content-Length.
class MinimalClient {
 public:
  explicit MinimalClient(const GatewaySimulator& gateway) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(gateway.Port());
    to.sin_addr.s_addr = ::inet_addr(gateway.Address().c_str());
    if (::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) Fail("connect failed");
    // As the senders do: without it each body waits for the delayed acknowledgement.
    const int noDelay = 1;
    ::setsockopt(fd_.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  }

  void Run(const std::vector<gwsim::ReceivedRequest>& requests, bool oneByte) {
    for (const gwsim::ReceivedRequest& request : requests) {
      SendAll(request.header);
      SendAll(request.body);
      if (oneByte ? !ReadByBytes() : !ReadByBlocks()) Fail("no answer");
    }
  }

 private:
  void SendAll(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = ::send(fd_.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) Fail("send failed");
      sent += static_cast<std::size_t>(n);
    }
  }
  static std::size_t BodyLength(const std::string& header) {
    const char* length = std::strstr(header.c_str(), "Content-Length:");
    return length != nullptr ? std::strtoul(length + 15, nullptr, 10) : 0;
  }
  bool ReadByBytes() {
    std::string header;
    while (header.size() < 4 || header.compare(header.size() - 4, 4, "\r\n\r\n") != 0) {
      char byte = 0;
      if (::recv(fd_.Get(), &byte, 1, 0) != 1) return false;
      header += byte;
    }
    for (std::size_t left = BodyLength(header); left > 0; --left) {
      char byte = 0;
      if (::recv(fd_.Get(), &byte, 1, 0) != 1) return false;
    }
    return true;
  }
  bool ReadByBlocks() {
    for (;;) {
      const std::size_t end = input_.find("\r\n\r\n");
      if (end != std::string::npos) {
        const std::size_t total = end + 4 + BodyLength(input_.substr(0, end + 4));
        if (input_.size() >= total) {
          input_.erase(0, total);
          return true;
        }
      }
      char buffer[65536];
      const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      input_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  platform::UniqueFd fd_;
  std::string input_;
};

}  // namespace

int main() {
  SetLogThreshold(3);

  std::vector<std::unique_ptr<GatewaySimulator>> gateways;
  for (int i = 0; i < kGateways; ++i) {
    // Senders are bound by address alone: one address per gateway.
    gateways.push_back(std::make_unique<GatewaySimulator>("127.0.0." + std::to_string(11 + i), 0));
    gateways.back()->RecordRequests(false);
  }
  GatewaySimulator& one = *gateways[0];
  const std::vector<CHttpData> batch = Requests(one, kBatch);

  std::vector<GatewaySimulator*> all;
  std::vector<std::vector<CHttpData>> batches;
  for (const auto& gateway : gateways) {
    all.push_back(gateway.get());
    batches.push_back(Requests(*gateway, kBatch));
  }

  CNacHttpClient client;
  // This first run also warms up the sender and the connection path.
  one.RecordRequests(true);
  Deliver(client, {&one}, {batch});
  const std::vector<gwsim::ReceivedRequest> sent = one.Requests();
  one.RecordRequests(false);
  std::vector<Measure> measures = {
      {kBatch, [&] { Deliver(client, {&one}, {batch}); }, {}},
      {kBatch, [&] { MinimalClient(one).Run(sent, true); }, {}},
      {kBatch, [&] { MinimalClient(one).Run(sent, false); }, {}},
      {kBatch * kGateways, [&] { Deliver(client, all, batches); }, {}},
  };
  const std::vector<double> rates = Medians(measures);
  const double delivery = rates[0], oneByte = rates[1], blocks = rates[2], five = rates[3];

  // Every line of every request sent, to a sink on the default collector address.
  platform::UniqueFd sink(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(514);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sinkBound = ::bind(sink.Get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
  double logged = 0;
  if (sinkBound) {
    SetLogThreshold(7);
    std::vector<Measure> withLog = {{kBatch, [&] { Deliver(client, {&one}, {batch}); }, {}}};
    logged = Medians(withLog)[0];
    SetLogThreshold(3);
  }

  std::printf("delivery to simulated gateways on loopback, %d requests a run, median of %d runs\n", kBatch, kRuns);
  std::printf("log threshold 3 (no line per request) unless said otherwise\n");
  std::printf("%-58s %9.0f requests/s\n", "delivery, one gateway, one connection", delivery);
  std::printf("%-58s %9.0f requests/s (delivery at %.0f%%)\n", "minimal client, answers read one byte per receive",
              oneByte, 100 * delivery / oneByte);
  std::printf("%-58s %9.0f requests/s (delivery at %.0f%%)\n", "minimal client, answers read in blocks", blocks,
              100 * delivery / blocks);
  std::printf("%-58s %9.0f requests/s (%.0f per gateway)\n", "delivery, five gateways at once, five senders", five,
              five / kGateways);
  if (sinkBound) {
    std::printf("%-58s %9.0f requests/s\n", "delivery, one gateway, every line logged (threshold 7)", logged);
  } else {
    std::printf("%-58s (127.0.0.1:514 taken; not measured)\n", "delivery, one gateway, every line logged");
  }
  return 0;
}
