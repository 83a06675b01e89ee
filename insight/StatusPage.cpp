#include "insight/StatusPage.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "command/AuditTrail.h"
#include "insight/FleetStatus.h"
#include "insight/InsightSources.h"
#include "platform/Clock.h"
#include "registry/GwDataList.h"
#include "support/ControlBytes.h"
#include "support/HtmlText.h"

namespace {

constexpr std::size_t kAuditLines = 50;
constexpr std::size_t kAuditLineSize = 400;
constexpr std::size_t kRowSize = 320;  // a row's bytes, about

constexpr char kHead[] =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"refresh\" content=\"10\">\n<title>Velnor fleet status</title>\n<style>\n"
    "body{font-family:sans-serif;margin:1em 2em;color:#222}\n"
    "table{border-collapse:collapse}\n"
    "th,td{border:1px solid #ccc;padding:.2em .5em;text-align:left;vertical-align:top}\n"
    "th{background:#eee}\n"
    "tr.off td.addr,tr.off td.state{background:#fdd}\n"
    "tr.on td.state{background:#dfd}\n"
    "td.waiting{text-align:right}\n"
    "#audit{font-family:monospace}\n"
    "</style>\n</head>\n<body>\n<h1>Velnor fleet status</h1>\n";

void AppendDigits(std::string& page, long value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  page.append(digits, static_cast<std::size_t>(width));
}

// "YYYY-MM-DD HH:MM:SS UTC", without the C library's locale work: a row has one.
void AppendUtc(std::string& page, std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds when{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const auto second = (when - day).count();
  AppendDigits(page, static_cast<int>(date.year()), 4);
  page += '-';
  AppendDigits(page, static_cast<long>(static_cast<unsigned>(date.month())), 2);
  page += '-';
  AppendDigits(page, static_cast<long>(static_cast<unsigned>(date.day())), 2);
  page += ' ';
  AppendDigits(page, static_cast<long>(second / 3600), 2);
  page += ':';
  AppendDigits(page, static_cast<long>(second / 60 % 60), 2);
  page += ':';
  AppendDigits(page, static_cast<long>(second % 60), 2);
  page += " UTC";
}

// "12 s ago", "5 min ago", "3 h ago", "2 d ago".
void AppendAge(std::string& page, std::int64_t seconds) {
  if (seconds < 120) {
    page += std::to_string(seconds) + " s ago";
  } else if (seconds < 120 * 60) {
    page += std::to_string(seconds / 60) + " min ago";
  } else if (seconds < 48 * 3600) {
    page += std::to_string(seconds / 3600) + " h ago";
  } else {
    page += std::to_string(seconds / 86400) + " d ago";
  }
}

void AppendCell(std::string& page, const char* kind) {
  page += "<td class=\"";
  page += kind;
  page += "\">";
}

// A ledger text with its age, or "none" when there is none.
void AppendEvent(std::string& page, const std::string& text, std::uint32_t atMs, std::uint32_t nowMs) {
  if (text.empty()) {
    page += "none";
    return;
  }
  AppendHtmlText(page, text);
  page += ", ";
  AppendAge(page, (nowMs - atMs) / 1000);
}

}  // namespace

std::string StatusPage() {
  const std::vector<std::string> audit = GetAuditTrail().Recent(kAuditLines);
  platform::Clock& clock = platform::CurrentClock();
  const std::int64_t nowSeconds = clock.NowSeconds();
  const std::int64_t nowMonotonic = clock.MonotonicMs();
  const std::uint32_t nowMs = platform::RealClock().NowMs();

  // One string, sized for every row at once: a page of thousands of rows would otherwise be
  // copied as it grows. The totals go above the table once its rows have been counted.
  std::string page;
  page.reserve(static_cast<std::size_t>(GetGwDataList().GetCount(false)) * kRowSize + 4096 + audit.size() * 128);
  page += kHead;
  page += "<p id=\"now\">As of ";
  AppendUtc(page, nowSeconds);
  page += "</p>\n";
  const std::size_t totalsAt = page.size();
  page +=
      "<table id=\"gateways\">\n<thead><tr><th>Gateway</th><th>State</th><th>Rules</th><th>Waiting</th>"
      "<th>Last answer</th><th>Last failure</th></tr></thead>\n<tbody>\n";
  std::size_t gateways = 0;
  std::size_t on = 0;
  std::size_t inSync = 0;
  VisitFleetStatus([&](const GatewayStatus& gateway) {
    ++gateways;
    on += gateway.on ? 1 : 0;
    inSync += gateway.InSync() ? 1 : 0;
    page += gateway.on ? "<tr class=\"gw on\">" : "<tr class=\"gw off\">";
    AppendCell(page, "addr");
    AppendHtmlText(page, gateway.addressText);
    page += ':';
    page += std::to_string(gateway.port);
    page += "</td>";
    AppendCell(page, "state");
    const std::int64_t age = std::max<std::int64_t>(nowMonotonic - gateway.stateSince, 0) / 1000;
    page += gateway.on ? "ON since " : "OFF since ";
    AppendUtc(page, nowSeconds - age);
    page += " (";
    AppendAge(page, age);
    page += ")</td>";
    AppendCell(page, "sync");
    page += gateway.SyncText();
    page += "</td>";
    AppendCell(page, "waiting");
    page += std::to_string(gateway.waiting);
    page += "</td>";
    AppendCell(page, "answer");
    AppendEvent(page, gateway.seen.lastWord, gateway.seen.lastAnswerMs, nowMs);
    page += "</td>";
    AppendCell(page, "failure");
    AppendEvent(page, gateway.seen.lastFailure, gateway.seen.lastFailureMs, nowMs);
    page += "</td></tr>\n";
  });
  page.insert(totalsAt, "<p id=\"totals\">" + std::to_string(gateways) + " gateways, " + std::to_string(on) +
                            " ON, " + std::to_string(gateways - on) + " OFF, " + std::to_string(inSync) +
                            " in sync, " + std::to_string(WaitingRequests(std::nullopt)) + " requests waiting</p>\n");
  page += "</tbody>\n</table>\n<h2>Audit trail</h2>\n<ol id=\"audit\">\n";
  if (audit.empty()) page += "<li>none yet</li>\n";
  for (auto line = audit.rbegin(); line != audit.rend(); ++line) {
    page += "<li>";
    AppendHtmlText(page, EscapeControlBytes(*line, kAuditLineSize));
    page += "</li>\n";
  }
  page += "</ol>\n</body>\n</html>\n";
  return page;
}
