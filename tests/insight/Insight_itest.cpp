// What an administrator can ask of the service: the rules a gateway should hold and
// whether it holds them, the metrics and status pages, and NAC entries kept across a restart.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sstream>
#include <thread>

#include "command/AuditTrail.h"
#include "command/CommandTable.h"
#include "delivery/NacHttpClient.h"
#include "request/HttpDataList.h"
#include "gwsim/GatewaySimulator.h"
#include "delivery/GatewayLedger.h"
#include "insight/AclCommand.h"
#include "insight/MetricsPage.h"
#include "insight/MetricsServer.h"
#include "acl/GatewayRuleSet.h"
#include "support/Metrics.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/ManualClock.h"
#include "tests/common/OwnerStandIn.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

class InsightTest : public CommandTest {
 protected:
  InsightTest() { AddExtensionCommand("acl", AclCommand); }
  void Run(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) ASSERT_GT(RunCommandLine(line).result, 0) << line;
  }
};

TEST_F(InsightTest, AclShowPreviewsTheResetAndStatusComparesWhatWasAcknowledged) {
  Run({"gw add 127.0.0.61", "gw add 127.0.0.62", "quarantine add source 172.17.0.1 protocol tcp sport 80",
       "pc add source-mac 00:11:22:33:44:55", "nac add drop source 10.1.1.1 source-mac 00:11:22:33:44:55"});
  EXPECT_EQ(RunCommandLine("acl show"),
            (CommandRun{0, "GW\t\tPORT\tRULES\r\n127.0.0.61\t880\t4\r\n127.0.0.62\t880\t4\r\n"}));
  EXPECT_EQ(RunCommandLine("acl show 127.0.0.61").reply,
            "version=1&class=client&opcode=reset&count=0\r\n"
            "version=1&class=quarantine&opcode=reset&count=0\r\n"
            "version=1&class=client&opcode=set&count=1&acl=add access-list pc accept protocol tcp destination "
            "172.17.0.1 dport 80 source-mac 00:11:22:33:44:55\r\n"
            "version=1&class=client&opcode=set&count=1&acl=add access-list pc accept protocol tcp source 172.17.0.1 "
            "sport 80\r\n"
            "version=1&class=quarantine&opcode=set&count=1&acl=add access-list nac drop source 10.1.1.1 source-mac "
            "00:11:22:33:44:55\r\n"
            "version=1&class=quarantine&opcode=set&count=1&acl=add access-list nac drop destination 10.1.1.1\r\n");
  EXPECT_TRUE(GetPendingHttpDataList().IsEmpty(false)) << "a preview queues nothing";
  EXPECT_EQ(RunCommandLine("acl show 127.0.0.99"), (CommandRun{0, "acl: 127.0.0.99 is not a registered gateway.\r\n"}));
  EXPECT_EQ(RunCommandLine("acl show x").reply.substr(0, 21), "acl: invalid option\r\n");

  // The first gateway took every request with "ok"; the second answered one "invalid acl".
  const std::uint32_t first = ::inet_addr("127.0.0.61");
  const std::uint32_t second = ::inet_addr("127.0.0.62");
  const std::vector<CHttpData> preview = GatewayRuleSet(first);
  for (const CHttpData& request : preview) {
    GetGatewayLedger().Answered(first, 880, request.body, 200, "ok");
    GetGatewayLedger().Answered(second, 880, request.body, 200, &request == &preview.back() ? "invalid acl" : "ok");
  }
  GetGatewayLedger().TryFailed(second, 880, "Connection error to GW(127.0.0.62:880).");
  const std::string status = RunCommandLine("acl status").reply;
  EXPECT_NE(status.find("127.0.0.61:880 OFF queued 0 delivered 6 failed 0 dropped 0 last \"ok\" 0 s ago in sync\r\n"),
            std::string::npos)
      << status;
  EXPECT_NE(status.find("127.0.0.62:880 OFF queued 0 delivered 5 failed 1 dropped 0 last \"invalid acl\" 0 s ago "
                        "missing 1 extra 0\r\n"),
            std::string::npos)
      << status;
  // A deleted PC's rules are extra until the gateway takes their deletion.
  Run({"pc del source-mac 00:11:22:33:44:55"});
  EXPECT_NE(RunCommandLine("acl status").reply.find("127.0.0.61:880 OFF queued 0 delivered 6 failed 0 dropped 0 last "
                                                    "\"ok\" 0 s ago missing 0 extra 4"),
            std::string::npos);
}

// A raw client on the metrics port: sends bytes, gives what comes back before the close.
std::string Fetch(std::uint16_t port, const std::string& request) {
  testing_support::ConsoleClient client(port);
  return client.Send(request) ? client.ReadToClose().value_or("no close") : "no connection";
}

TEST_F(InsightTest, TheMetricsPageMovesWithWhatHappensAndBadRequestsAreTurnedAway) {
  const std::uint16_t port = 18291;
  MetricsServer server;
  ASSERT_TRUE(server.Start(port));
  const testing_support::ConsoleClient silent(port);  // says nothing and holds up nobody
  ASSERT_TRUE(silent.Connected());

  Run({"gw add 127.0.0.61", "pc add source-mac 00:11:22:33:44:55"});
  // One request that a gateway answers "ok" moves exactly two counters: sent and ok.
  const std::string before = MetricsPage();
  {
    gwsim::GatewaySimulator gateway("127.0.0.61", 0);
    testing_support::OwnerStandIn owner;
    CNacHttpClient dispatcher;
    dispatcher.SaveThreadID(owner.Id());
    auto* request = new CHttpData();
    ASSERT_EQ(CHttpDataList::MakeHttpData(*request, "admin", "tovin", 1, 1, 1, 1, "add access-list pc accept", "x"), 1);
    request->address = ::inet_addr("127.0.0.61");
    request->port = gateway.Port();
    GetPendingHttpDataList().AddTail(request, false);
    const std::uint64_t ok = GetMetrics().answers[Metrics::kOk].load();
    dispatcher.EventSend();
    for (int i = 0; i < 500 && GetMetrics().answers[Metrics::kOk].load() == ok; ++i) std::this_thread::sleep_for(20ms);
  }
  const std::string page = Fetch(port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4")) << page;
  std::vector<std::string> moved;
  std::istringstream was(before), is(page.substr(page.find("\r\n\r\n") + 4));
  for (std::string a, b; std::getline(was, a) && std::getline(is, b);) {
    if (a != b) moved.push_back(a + " -> " + b.substr(b.rfind(' ') + 1));
  }
  EXPECT_EQ(moved.size(), 2u) << ::testing::PrintToString(moved);
  EXPECT_NE(page.find("velnor_gateway_answers_total{result=\"ok\"} 1\n"), std::string::npos);
  EXPECT_NE(page.find("velnor_requests_sent_total 1\n"), std::string::npos);
  EXPECT_NE(page.find("velnor_registry_records{registry=\"gw\"} 1\n"), std::string::npos);
  EXPECT_NE(page.find("velnor_registry_records{registry=\"pc\"} 1\n"), std::string::npos);
  EXPECT_NE(page.find("# TYPE velnor_requests_sent_total counter\n"), std::string::npos);

  EXPECT_TRUE(Fetch(port, "GARBAGE\r\n\r\n").starts_with("HTTP/1.1 400 ")) << "a broken request line";
  EXPECT_TRUE(Fetch(port, "GET /metrics HTTP/1.1\r\n" + std::string(10000, 'x')).starts_with("HTTP/1.1 400 "));
  EXPECT_TRUE(Fetch(port, "GET /other HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404 "));
  EXPECT_TRUE(Fetch(port, "POST /metrics HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 405 "));

  // What a Prometheus server would take: its own checker says so (tools/test.sh installs it).
  ASSERT_EQ(std::system("command -v promtool >/dev/null 2>&1"), 0) << "promtool (Debian's prometheus) is missing";
  const std::string body = page.substr(page.find("\r\n\r\n") + 4);
  std::FILE* check = ::popen("promtool check metrics >promtool.out 2>&1", "w");
  ASSERT_NE(check, nullptr);
  std::fwrite(body.data(), 1, body.size(), check);
  EXPECT_EQ(::pclose(check), 0) << dir_.Read("promtool.out");
}

// The row of the gateway at addr on the status page, from its <tr> to its </tr>.
std::string Row(const std::string& page, const std::string& addr) {
  const std::size_t cell = page.find("<td class=\"addr\">" + addr + "</td>");
  if (cell == std::string::npos) return "no row for " + addr;
  const std::size_t start = page.rfind("<tr", cell);
  return page.substr(start, page.find("</tr>", cell) + 5 - start);
}

TEST_F(InsightTest, TheStatusPageShowsEachGatewayWithWhatCameFromOutsideEscaped) {
  testing_support::ManualClock clock(1796671505);  // 2026-12-07 19:25:05 UTC
  const std::uint16_t port = 18292;
  MetricsServer server;
  ASSERT_TRUE(server.Start(port));
  Run({"gw add 127.0.0.71", "gw add 127.0.0.72", "quarantine add source 172.17.0.1 protocol tcp sport 80",
       "pc add source-mac 00:11:22:33:44:55"});
  clock.AdvanceMonotonicMs(300'000);
  const std::uint32_t first = ::inet_addr("127.0.0.71");
  const std::uint32_t second = ::inet_addr("127.0.0.72");
  ASSERT_EQ(GetGwDataList().KeepAliveOn(first), 1);
  const std::vector<CHttpData> preview = GatewayRuleSet(first);
  for (const CHttpData& request : preview) {
    GetGatewayLedger().Answered(first, 880, request.body, 200, "ok");
    const bool last = &request == &preview.back();
    GetGatewayLedger().Answered(second, 880, request.body, 200,
                                last ? "<script>x</script>\0\x1b[2J"s : "ok"s);
  }
  GetGatewayLedger().TryFailed(second, 880, "Connection error to GW(127.0.0.72:880).");
  GetAuditTrail().Keep("older line");
  GetAuditTrail().Keep("operator <b> ran 'gw del' & \"left\"");

  const std::string page = Fetch(port, "GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n")) << page;
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"10\">"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos) << "a gateway's answer opened a tag";
  EXPECT_NE(page.find("<p id=\"totals\">2 gateways, 1 ON, 1 OFF, 1 in sync, 0 requests waiting</p>"),
            std::string::npos);
  // A flip starts the ON time anew; the gateway left OFF counts from its making, 5 minutes ago.
  EXPECT_THAT(Row(page, "127.0.0.71:880"),
              ::testing::MatchesRegex(
                  "<tr class=\"gw on\"><td class=\"addr\">127.0.0.71:880</td><td class=\"state\">ON since "
                  "2026-12-07 19:2[45]:[0-9][0-9] UTC \\([0-9]+ s ago\\)</td><td class=\"sync\">in sync</td>"
                  "<td class=\"waiting\">0</td><td class=\"answer\">ok, [0-9]+ s ago</td>"
                  "<td class=\"failure\">none</td></tr>"));
  EXPECT_THAT(Row(page, "127.0.0.72:880"),
              ::testing::MatchesRegex(
                  "<tr class=\"gw off\">.*<td class=\"state\">OFF since 2026-12-07 19:(19|20):[0-9][0-9] UTC "
                  "\\(5 min ago\\)</td><td class=\"sync\">missing 1 extra 0</td>.*<td class=\"answer\">"
                  "&lt;script&gt;x&lt;/script&gt;\\\\x00\\\\x1b\\[2J, [0-9]+ s ago</td>"
                  "<td class=\"failure\">Connection error to GW\\(127.0.0.72:880\\)., [0-9]+ s ago</td></tr>"));
  EXPECT_NE(page.find("<li>operator &lt;b&gt; ran &#39;gw del&#39; &amp; &quot;left&quot;</li>\n<li>older line</li>"),
            std::string::npos)
      << "newest first, escaped";

  // The console shows the same answer escaped: no NUL cuts its line, no ESC reaches a terminal.
  const std::string status = RunCommandLine("acl status").reply;
  EXPECT_NE(status.find("last \"<script>x</script>\\x00\\x1b[2J\" "), std::string::npos) << status;
  EXPECT_TRUE(status.ends_with(" missing 1 extra 0\r\n")) << status;

  const std::string head = Fetch(port, "HEAD / HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html")) << head;
  EXPECT_TRUE(head.ends_with("\r\n\r\n")) << "HEAD has no body";
  const std::string post = Fetch(port, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(post.starts_with("HTTP/1.1 405 ")) << post;
  EXPECT_NE(post.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << post;
}

TEST_F(InsightTest, NacEntriesAreKeptOnlyWhenAskedAndLoadAsTheOtherFilesDo) {
  Run({"nac add accept source 10.1.1.1"});
  EXPECT_FALSE(std::filesystem::exists("nac.csv")) << "kept without the setting";
  dir_.Write("Velnor.ini", "[NAC]\r\nPERSIST=Enable\r\n");
  Run({"nac add drop source 10.2.2.2 source-mac 00-aa-bb-cc-dd-ee"});
  EXPECT_EQ(dir_.Read("nac.csv"), "\"accept\",\"10.1.1.1\",\"\"\r\n\"drop\",\"10.2.2.2\",\"00:AA:BB:CC:DD:EE\"\r\n");
  Run({"nac del accept source 10.1.1.1"});
  EXPECT_EQ(dir_.Read("nac.csv"), "\"drop\",\"10.2.2.2\",\"00:AA:BB:CC:DD:EE\"\r\n");

  // Its own lines, read by the load every file shares: an empty MAC is none, an unknown target a bad line.
  CNacDataList loaded;
  dir_.Write("nac.csv", "\"accept\",\"10.3.3.3\",\r\n\"maybe\",\"10.4.4.4\"\r\n\"drop\",\"10.5.5.5\"\r\n");
  EXPECT_EQ(loaded.Load("nac.csv"), -1);
  EXPECT_EQ(loaded.GetCount(false), 1);
}

}  // namespace
