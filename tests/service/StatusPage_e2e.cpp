// The status page as an operator's browser shows it: the whole velnor with three gateways of
// the test's network namespace, the page rendered by Chromium's headless shell, read back as
// the DOM it built and kept as a screenshot in the build folder for a person to look at.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gwsim/GatewaySimulator.h"
#include "tests/common/Eventually.h"
#include "tests/common/PeerProcess.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/ServiceFixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

constexpr std::uint16_t kMetricsPort = 9100;
const std::string kSecret = "Velvet-Lantern-93";

// What a reader sees of serialized markup: tags dropped, entities read back, blanks run
// together and trimmed.
std::string Text(const std::string& markup) {
  std::string text = std::regex_replace(markup, std::regex("<[^>]*>"), " ");
  for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"},
                                          {"&nbsp;", " "}, {"&amp;", "&"}}) {
    text = std::regex_replace(text, std::regex(entity), character);
  }
  std::istringstream words(text);
  std::string joined;
  for (std::string word; words >> word;) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// The markup inside <tag id="id" ...> up to its closing tag; none when it is not there.
std::optional<std::string> Inside(const std::string& dom, const std::string& tag, const std::string& id) {
  const std::size_t open = dom.find("<" + tag + " id=\"" + id + "\"");
  const std::size_t from = open == std::string::npos ? open : dom.find('>', open);
  const std::size_t to = from == std::string::npos ? from : dom.find("</" + tag + ">", from);
  if (to == std::string::npos) return std::nullopt;
  return dom.substr(from + 1, to - from - 1);
}

// Each match's groups 1 and 2 (group 1 alone when pattern has one).
std::vector<std::pair<std::string, std::string>> Matches(const std::string& markup, const std::string& pattern) {
  std::vector<std::pair<std::string, std::string>> found;
  const std::regex expression(pattern);
  for (std::sregex_iterator it(markup.begin(), markup.end(), expression), end; it != end; ++it) {
    found.emplace_back((*it)[1], it->size() > 2 ? (*it)[2].str() : std::string());
  }
  return found;
}

// The line of "acl status" for the gateway at address:port; empty when there is none.
std::string StatusOf(const std::string& status, const std::string& gateway) {
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(gateway + " ")) return line;
  }
  return {};
}

class StatusPageTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    PrivateNetwork::AnswerEcho(true);
    ASSERT_EQ(Run({"-RegServer"}), 0);
  }

  // The headless shell on the status page with these switches, in a profile of the test's own
  // (as root it runs only without its sandbox): whether it ended well within a minute.
  // Its output is in chromium.out, its complaints in chromium.err.
  ::testing::AssertionResult Browse(const std::vector<std::string>& switches) {
    std::vector<std::string> args{"chromium-headless-shell", "--no-sandbox", "--headless", "--disable-gpu",
                                  "--user-data-dir=" + dir_.File("chromium")};
    args.insert(args.end(), switches.begin(), switches.end());
    args.push_back("http://127.0.0.1:" + std::to_string(kMetricsPort) + "/");
    PeerProcess chromium(args, dir_.File("chromium.out"), dir_.File("chromium.err"));
    const std::optional<int> code = chromium.Wait(60s);
    if (code == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "chromium " << (code ? "exited " + std::to_string(*code) : "hung")
                                         << ":\n" << Slurp(dir_.File("chromium.err")).substr(0, 4000);
  }
};

// Three gateways as an operator meets them: one ON that holds every rule, one ON whose CGI
// turns every order down, one that answers no ping. The page shows each row's state, its
// convergence and its last answer or failure, and the console's changes newest first, with
// the gateways' password masked everywhere.
TEST_F(StatusPageTest, ABrowserShowsEachGatewaysStateAndTheAuditWithoutThePassword) {
  ASSERT_TRUE(Installed("chromium-headless-shell", "chromium-headless-shell"));
  const std::string syncing = "10.30.0.1";
  const std::string refusing = "10.30.0.2";
  const std::string unreachable = PrivateNetwork::SilentNetwork() + "1";
  std::vector<std::unique_ptr<gwsim::GatewaySimulator>> gateways;
  for (const std::string& address : {syncing, refusing}) {
    PrivateNetwork::AddAddress(address);
    gateways.push_back(std::make_unique<gwsim::GatewaySimulator>(address, 880, "admin", kSecret));
  }
  gateways[1]->SetBehaviour({.word = "invalid acl"});
  dir_.Write("Velnor.ini", "[METRICS]\nPORT=" + std::to_string(kMetricsPort) + "\n");
  // A quarantine server from the start: the PC added below gives every gateway rules.
  dir_.Write("quarantine.csv", "\"172.17.0.10\",\"tcp\",\"4208\"\r\n");

  auto velnor = Start();
  auto console = Console();
  const std::vector<std::string> changes{"gw add " + syncing + " pass " + kSecret,
                                         "gw add " + refusing + " pass " + kSecret,
                                         "gw add " + unreachable + " pass " + kSecret,
                                         "pc add source-mac 02:00:00:00:0a:01"};
  for (const std::string& change : changes) ASSERT_EQ(console->Command(change), "") << change;

  std::string status;
  const bool settled = Eventually(
      [&] {
        status = console->Command("acl status").value_or("");
        const std::string first = StatusOf(status, syncing + ":880");
        const std::string second = StatusOf(status, refusing + ":880");
        return first.starts_with(syncing + ":880 ON ") && first.ends_with(" in sync") &&
               second.starts_with(refusing + ":880 ON ") && second.find("last \"invalid acl\"") != std::string::npos;
      },
      60s);
  ASSERT_TRUE(settled) << status;

  ASSERT_TRUE(Browse({"--dump-dom"}));
  const std::string dom = Slurp(dir_.File("chromium.out"));
  const std::string shown = "The page as rendered:\n" + dom.substr(0, 8000);
  const std::optional<std::string> table = Inside(dom, "table", "gateways");
  ASSERT_TRUE(table) << shown;
  // Each gateway row's classes, and its cells' texts by class, by its address.
  std::map<std::string, std::pair<std::string, std::map<std::string, std::string>>> rows;
  for (const auto& [classes, row] : Matches(*table, R"re(<tr class="(gw [^"]*)">([\s\S]*?)</tr>)re")) {
    std::map<std::string, std::string> cells;
    for (const auto& [name, cell] : Matches(row, R"re(<td class="([^"]*)">([\s\S]*?)</td>)re")) cells[name] = Text(cell);
    rows[cells["addr"]] = {classes, cells};
  }
  ASSERT_EQ(rows.size(), 3u) << shown;
  ASSERT_TRUE(rows.contains(syncing + ":880") && rows.contains(refusing + ":880") &&
              rows.contains(unreachable + ":880"))
      << shown;

  auto& [inSyncRow, inSync] = rows[syncing + ":880"];
  EXPECT_EQ(inSyncRow, "gw on");
  EXPECT_THAT(inSync["state"], StartsWith("ON since "));
  EXPECT_EQ(inSync["sync"], "in sync");
  EXPECT_EQ(inSync["waiting"], "0");
  EXPECT_THAT(inSync["answer"], MatchesRegex("ok, .+ ago"));
  EXPECT_EQ(inSync["failure"], "none");

  auto& [refusedRow, refused] = rows[refusing + ":880"];
  EXPECT_EQ(refusedRow, "gw on");
  EXPECT_THAT(refused["state"], StartsWith("ON since "));
  EXPECT_THAT(refused["answer"], StartsWith("invalid acl, "));
  EXPECT_THAT(refused["failure"], HasSubstr("answered \"invalid acl\""));

  auto& [offRow, off] = rows[unreachable + ":880"];
  EXPECT_EQ(offRow, "gw off");
  EXPECT_THAT(off["state"], StartsWith("OFF since "));
  EXPECT_EQ(off["answer"], "none");

  const std::optional<std::string> totals = Inside(dom, "p", "totals");
  ASSERT_TRUE(totals) << shown;
  EXPECT_NE(Text(*totals), "");
  const std::optional<std::string> audit = Inside(dom, "ol", "audit");
  ASSERT_TRUE(audit) << shown;
  std::vector<std::string> audited;
  for (const auto& item : Matches(*audit, R"re(<li>([\s\S]*?)</li>)re")) audited.push_back(Text(item.first));
  EXPECT_THAT(audited, ElementsAre(HasSubstr("\"" + changes[3] + "\" done"),
                                   HasSubstr("\"gw add " + unreachable + " pass ***\" done"),
                                   HasSubstr("\"gw add " + refusing + " pass ***\" done"),
                                   HasSubstr("\"gw add " + syncing + " pass ***\" done")));
  EXPECT_EQ(dom.find(kSecret), std::string::npos) << shown;

  // The same page as a picture, kept in the build folder after the test's own is gone.
  const std::string picture = std::string(VELNOR_BUILD_DIR) + "/status-page.png";
  std::filesystem::remove(picture);
  ASSERT_TRUE(Browse({"--screenshot=" + picture, "--window-size=1280,720"}));
  EXPECT_THAT(Slurp(picture), StartsWith("\x89PNG\r\n\x1a\n")) << picture;

  console.reset();
  Stop(velnor);
}

}  // namespace
