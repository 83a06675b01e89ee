#include "insight/MetricsPage.h"

#include <cstdint>
#include <cstdio>

#include "insight/InsightSources.h"
#include "list/NacNode.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Metrics.h"

#ifndef VELNOR_VERSION
#define VELNOR_VERSION "unknown"
#endif

namespace {

void Family(std::string& page, const char* name, const char* type, const char* help) {
  page += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

template <class Value>
void Sample(std::string& page, const char* name, Value value, const std::string& labels = "") {
  page += name;
  if (!labels.empty()) page += "{" + labels + "}";
  page += " " + std::to_string(value) + "\n";
}

template <class Record>
std::int64_t LiveCount(CNacList& list) {
  CNacList::Guard guard(list);
  std::int64_t count = 0;
  for (CNacNode* node = list.GetHead(guard); node != nullptr; node = list.GetNext(node, guard)) {
    count += node->RecordAs<Record>()->IsLive() ? 1 : 0;
  }
  return count;
}

}  // namespace

std::string MetricsPage() {
  const Metrics& metrics = GetMetrics();
  std::int64_t gateways = 0;
  std::int64_t up = 0;
  std::int64_t routes = 0;
  {
    CGwDataList& registry = GetGwDataList();
    CNacList::Guard guard(registry);
    for (CNacNode* node = registry.GetHead(guard); node != nullptr; node = registry.GetNext(node, guard)) {
      CGwData& gateway = *node->RecordAs<CGwData>();
      if (!gateway.IsLive()) continue;
      ++gateways;
      up += gateway.on != 0 ? 1 : 0;
      routes += LiveCount<CGwrouteData>(gateway.Routes());
    }
  }

  std::string page;
  Family(page, "velnor_build_info", "gauge", "The running build of the service.");
  Sample(page, "velnor_build_info", 1, "version=\"" VELNOR_VERSION "\"");
  Family(page, "velnor_gateways_up", "gauge", "Registered gateways that answer their probes.");
  Sample(page, "velnor_gateways_up", up);
  Family(page, "velnor_requests_sent_total", "counter", "Requests whose header and body were sent to a gateway.");
  Sample(page, "velnor_requests_sent_total", metrics.requestsSent.load());
  Family(page, "velnor_gateway_answers_total", "counter", "Answers of the gateways, by result word.");
  static const char* const kResults[Metrics::kAnswerKinds] = {
      "ok", "no_list", "invalid_version", "invalid_acl", "invalid_opcode", "invalid_count", "invalid_acl_format",
      "other", "http_error"};
  for (int kind = 0; kind < Metrics::kAnswerKinds; ++kind) {
    Sample(page, "velnor_gateway_answers_total", metrics.answers[kind].load(),
           std::string("result=\"") + kResults[kind] + "\"");
  }
  Family(page, "velnor_tries_failed_total", "counter", "Tries that got no whole answer from a gateway.");
  Sample(page, "velnor_tries_failed_total", metrics.triesFailed.load());
  Family(page, "velnor_requests_dropped_total", "counter", "Requests given up after the fourth failed try.");
  Sample(page, "velnor_requests_dropped_total", metrics.requestsDropped.load());
  Family(page, "velnor_requests_waiting", "gauge", "Requests waiting to be sent, pending and queued.");
  Sample(page, "velnor_requests_waiting", WaitingRequests(std::nullopt));
  Family(page, "velnor_probes_sent_total", "counter", "Echo requests sent to the gateways.");
  Sample(page, "velnor_probes_sent_total", metrics.probesSent.load());
  Family(page, "velnor_probes_answered_total", "counter", "Echo requests the gateways answered.");
  Sample(page, "velnor_probes_answered_total", metrics.probesAnswered.load());
  Family(page, "velnor_console_sessions", "gauge", "Operator console sessions open now.");
  Sample(page, "velnor_console_sessions", metrics.consoleSessions.load());
  Family(page, "velnor_registry_records", "gauge", "Live records of each registry.");
  Sample(page, "velnor_registry_records", gateways, "registry=\"gw\"");
  Sample(page, "velnor_registry_records", routes, "registry=\"gwroute\"");
  Sample(page, "velnor_registry_records", LiveCount<CPcData>(GetPcDataList()), "registry=\"pc\"");
  Sample(page, "velnor_registry_records", LiveCount<CQuarantineData>(GetQuarantineDataList()),
         "registry=\"quarantine\"");
  Sample(page, "velnor_registry_records", LiveCount<CNacData>(GetNacDataList()), "registry=\"nac\"");
  return page;
}
