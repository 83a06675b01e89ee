#include "registry/GwrouteFile.h"

#include <memory>
#include <new>
#include <optional>
#include <string>

#include "registry/CsvFile.h"
#include "registry/LoadFailures.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "support/TextScan.h"
#include "support/ThrownText.h"

namespace {

void AppendQuoted(const std::string& text, std::string& out) {
  if (text.empty()) return;
  out += '"';
  out += text;
  out += '"';
}

void SaveLine(const CGwData& gateway, const CGwrouteData& route, std::string& out) {
  AppendQuoted(gateway.addressText, out);
  out += ',';
  AppendQuoted(route.device, out);
  out += ',';
  AppendQuoted(route.networkText, out);
  out += ',';
  AppendQuoted(route.netmaskText, out);
  out += "\r\n";
}

// Fills the route from the columns after the gateway address; false on an invalid network
// or netmask. An absent column leaves the field empty.
bool ParseRouteColumns(char* cursor, CGwrouteData& route) {
  char* column = nullptr;
  cursor = NextCsvToken(cursor, &column);
  if (cursor == nullptr) return true;
  route.device = column;

  cursor = NextCsvToken(cursor, &column);
  if (cursor == nullptr) return true;
  route.networkText = column;
  if (*column != '\0' && !ParseIPv4Value(column, route.network)) return false;

  cursor = NextCsvToken(cursor, &column);
  if (cursor == nullptr) return true;
  route.netmaskText = column;
  if (*column != '\0' && (!ParseIPv4Value(column, route.netmask) || MaskToPrefix(column) < 0)) return false;
  return true;
}

}  // namespace

int SaveGwroutes(CGwDataList& gateways, const char* path) {
  CsvFileWriter file(path, 0644);
  if (!file.IsOpen()) return -1;
  std::string line;
  {
    CNacList::Guard gatewayLock(gateways);
    for (CNacNode* node = gateways.GetHead(gatewayLock); node != nullptr; node = gateways.GetNext(node, gatewayLock)) {
      CGwData& gateway = *node->RecordAs<CGwData>();
      CGwrouteDataList& routes = gateway.Routes();
      CNacList::Guard routeLock(routes);
      for (CNacNode* entry = routes.GetHead(routeLock); entry != nullptr; entry = routes.GetNext(entry, routeLock)) {
        const CGwrouteData& route = *entry->RecordAs<CGwrouteData>();
        if (!route.IsLive()) continue;
        line.clear();
        SaveLine(gateway, route, line);
        if (!file.Write(line)) return -1;
      }
    }
  }
  return file.Commit() ? 0 : -1;
}

namespace {

GwrouteLoadResult Failed(GwrouteLoadResult result, const char* path, int line, const std::string& problem) {
  LoadFailed("GWROUTE", path, line, problem);
  return result;
}

}  // namespace

GwrouteLoadResult LoadGwroutes(CGwDataList& gateways, const char* path, const std::atomic<int>* stop) {
  // Before the file is opened: a missing file withdraws every route as well.
  {
    CNacList::Guard gatewayLock(gateways);
    for (CNacNode* node = gateways.GetHead(gatewayLock); node != nullptr; node = gateways.GetNext(node, gatewayLock)) {
      node->RecordAs<CGwData>()->Routes().MarkAllDeleted(1);
    }
  }

  CsvLineReader file(path, stop);
  if (file.Opened() == CsvLineReader::State::kMissing) return GwrouteLoadResult::kNotOpened;
  if (!file.IsOpen()) return Failed(GwrouteLoadResult::kNotOpened, path, 0, file.Problem());

  // One key for the whole file: a line without a gateway address belongs to the gateway
  // of the line before.
  std::optional<CGwData> key;
  try {
    key.emplace(CGwDataList::AddressKey(0));
  } catch (const std::bad_alloc&) {
    return Failed(GwrouteLoadResult::kBadLine, path, 1, "");
  }

  while (char* line = file.Next()) {
    std::unique_ptr<CGwrouteData> route;
    try {
      route = std::make_unique<CGwrouteData>();
    } catch (const std::bad_alloc&) {
      SyslogSend(2, "I failed in making of CGwrouteData.");
      return Failed(GwrouteLoadResult::kBadLine, path, file.LineNumber(), "");
    }
    char* column = nullptr;
    char* cursor = NextCsvToken(line, &column);
    if ((cursor != nullptr && *column != '\0' && !ParseIPv4Value(column, key->address)) ||
        !ParseRouteColumns(cursor, *route)) {
      return Failed(GwrouteLoadResult::kBadLine, path, file.LineNumber(), "");
    }

    CNacList::Guard gatewayLock(gateways);
    CGwData* gateway = gateways.FindLive(*key, gatewayLock);
    if (gateway == nullptr) continue;
    route->added = 1;
    try {
      gateway->Routes().AddTail(route.get(), false);
    } catch (const ThrownText&) {
      return Failed(GwrouteLoadResult::kAppendFailed, path, file.LineNumber(), "");
    }
    route.release();
  }
  if (file.Failed()) return Failed(GwrouteLoadResult::kReadError, path, 0, file.Problem());
  if (file.Stopped()) return GwrouteLoadResult::kStopped;
  LoadSucceeded(path);
  return GwrouteLoadResult::kLoaded;
}
