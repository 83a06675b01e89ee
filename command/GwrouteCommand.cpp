#include "command/GwrouteCommand.h"

#include <memory>
#include <new>
#include <optional>
#include <string>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/DefaultNetmask.h"
#include "command/ShowColumns.h"
#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"

namespace {

constexpr char kUsage[] =
    "gwroute: invalid option\r\n\r\n"
    "Usage: gwroute OPERATION [TARGET] [network NW] [netmask NM] [dev IF]\r\n\r\n"
    "Examples:\r\n"
    "  gwroute add 172.16.0.1 network 192.168.0.0\r\n"
    "  gwroute del 172.16.0.1 network 192.168.0.0\r\n"
    "  gwroute save\r\n"
    "  gwroute load\r\n"
    "  gwroute clear\r\n"
    "  gwroute show\r\n\r\n"
    "OPERATION:         (add/del/save/load/clear/show)\r\n"
    "TARGET:            IP address of GW\r\n"
    "NW:                Network address\r\n"
    "NM:                Netmask information\r\n"
    "IF:                Interface Device\r\n";
constexpr char kAddUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute add TARGET network NW [netmask NM] [dev IF]\r\n\r\n"
    "Examples:\r\n  gwroute add 172.16.0.1 network 192.168.0.0\r\n";
constexpr char kDelUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute del TARGET network NW [netmask NM] [dev IF]\r\n\r\n"
    "Examples:\r\n  gwroute del 172.16.0.1 network 192.168.0.0\r\n";
constexpr char kSaveUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute save\r\n\r\nExamples:\r\n  gwroute save\r\n";
constexpr char kLoadUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute load\r\n\r\nExamples:\r\n  gwroute load\r\n";
constexpr char kClearUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute clear\r\n\r\nExamples:\r\n  gwroute clear\r\n";
// Kept with its handler although the listing takes every word after it.
[[maybe_unused]] constexpr char kShowUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute show\r\n\r\nExamples:\r\n  gwroute show\r\n";

constexpr char kMemoryThrow[] = "memory throw\r\n";
constexpr char kNotRegistered[] = "TARGET is not registered.\r\n";

bool ApplyNetwork(CGwrouteData& route, const char* value) {
  route.networkText = value;
  return ParseIPv4Value(value, route.network);
}

bool ApplyNetmask(CGwrouteData& route, const char* value) {
  route.netmaskText = value;
  return ParseIPv4Value(value, route.netmask) && MaskToPrefix(value) >= 0;
}

bool ApplyDevice(CGwrouteData& route, const char* value) {
  route.device = value;
  return SurvivesRegistryFile(value);
}

constexpr CommandOption<CGwrouteData> kOptions[] = {
    {"network", ApplyNetwork},
    {"netmask", ApplyNetmask},
    {"dev", ApplyDevice},
};

// The route named by the options after TARGET, with the netmask of the network's class
// when none was given; false on any argument error.
bool FillRoute(int wordCount, char** words, CGwrouteData& route) {
  if (!ReadOptions<CGwrouteData>(wordCount, words, 3, kOptions, route)) return false;
  if (route.networkText.empty()) return false;
  if (route.netmaskText.empty()) {
    const char* netmask = DefaultNetmask(route.network);
    if (netmask == nullptr) return false;
    route.netmaskText = netmask;
    if (!ParseIPv4Value(netmask, route.netmask)) return false;
  }
  return true;
}

// The key that finds TARGET's gateway by its address alone, whatever its port; none,
// logged, when there is no memory for it.
std::optional<CGwData> TargetKey(std::uint32_t address) {
  try {
    return CGwDataList::AddressKey(address);
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "I failed in making of CGwData.");
    return std::nullopt;
  }
}

// The replies of add and del wait until the gateway lock is released: a client that does
// not read would otherwise hold up every thread that needs the registry.

std::int32_t RouteAdd(int socket, int wordCount, char** words) {
  if (wordCount < 5) return ReplyWith(socket, kAddUsage, 0);
  std::uint32_t target = 0;
  if (!ParseIPv4Value(words[2], target)) return ReplyWith(socket, kAddUsage, 0);
  std::unique_ptr<CGwrouteData> route;
  try {
    route = std::make_unique<CGwrouteData>();
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "I failed in making of CGwrouteData.");
    return ReplyWith(socket, kMemoryThrow, 0);
  }
  if (!FillRoute(wordCount, words, *route)) return ReplyWith(socket, kAddUsage, 0);
  const std::optional<CGwData> key = TargetKey(target);
  if (!key) return ReplyWith(socket, kMemoryThrow, 0);

  const char* refusal = nullptr;
  {
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard guard(gateways);
    CGwData* gateway = gateways.FindLive(*key, guard);
    route->added = 1;
    if (gateway == nullptr) {
      refusal = kNotRegistered;
    } else if (gateway->Routes().AddUnique(route.get()) != 0) {
      refusal = "duplication of data\r\n";
    } else {
      route.release();
    }
  }
  return refusal != nullptr ? ReplyWith(socket, refusal, 0) : command_event::kAdd;
}

std::int32_t RouteDel(int socket, int wordCount, char** words) {
  if (wordCount < 5) return ReplyWith(socket, kDelUsage, 0);
  std::uint32_t target = 0;
  CGwrouteData route;
  if (!ParseIPv4Value(words[2], target) || !FillRoute(wordCount, words, route)) {
    return ReplyWith(socket, kDelUsage, 0);
  }
  const std::optional<CGwData> key = TargetKey(target);
  if (!key) return ReplyWith(socket, kMemoryThrow, 0);

  bool registered = false;
  {
    CGwDataList& gateways = GetGwDataList();
    CNacList::Guard guard(gateways);
    CGwData* gateway = gateways.FindLive(*key, guard);
    if (gateway != nullptr) {
      registered = true;
      gateway->Routes().MarkDeleted(route);
    }
  }
  return registered ? command_event::kDel : ReplyWith(socket, kNotRegistered, 0);
}

std::int32_t RouteSave(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kSaveUsage, 0);
  if (SaveGwroutes(GetGwDataList(), kGwrouteFileName) != 0) return ReplyWith(socket, "save error\r\n", 0);
  return 0;
}

std::int32_t RouteLoad(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kLoadUsage, 0);
  switch (LoadGwroutes(GetGwDataList(), kGwrouteFileName)) {
    case GwrouteLoadResult::kLoaded:
      return command_event::kLoad;
    case GwrouteLoadResult::kNotOpened:
    case GwrouteLoadResult::kAppendFailed:
      return ReplyWith(socket, "load error\r\n", 0);
    case GwrouteLoadResult::kBadLine:
      return ReplyWith(socket, kMemoryThrow, 0);
    case GwrouteLoadResult::kReadError:
    case GwrouteLoadResult::kStopped:
      break;
  }
  // A read that broke off ends an operator's session without a reply.
  return -1;
}

std::int32_t RouteClear(int socket, int wordCount, char** /*words*/) {
  if (wordCount != 2) return ReplyWith(socket, kClearUsage, 0);
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  // Deleted gateways too: their routes are saved until the gateway is erased.
  for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
    node->RecordAs<CGwData>()->Routes().MarkAllDeleted(1);
  }
  return command_event::kClear;
}

std::int32_t RouteShow(int socket, int /*wordCount*/, char** /*words*/) {
  if (SendReply(socket, "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n") != 0) return -1;
  std::unique_ptr<CGwDataList> snapshot;
  try {
    snapshot = std::make_unique<CGwDataList>();
  } catch (const std::bad_alloc&) {
    // CopyAll refuses the missing target below.
  }
  if (GetGwDataList().CopyAll(snapshot.get()) < 0) return ReplyWith(socket, "show error\r\n", 0);
  std::string line;
  for (CNacNode* node = snapshot->GetHead(false); node != nullptr; node = snapshot->GetNext(node, false)) {
    CGwData& gateway = *node->RecordAs<CGwData>();
    if (!gateway.IsLive()) continue;
    CGwrouteDataList& routes = gateway.Routes();
    for (CNacNode* entry = routes.GetHead(false); entry != nullptr; entry = routes.GetNext(entry, false)) {
      const CGwrouteData& route = *entry->RecordAs<CGwrouteData>();
      if (!route.IsLive()) continue;
      line.clear();
      AppendColumn(line, gateway.addressText);
      AppendColumn(line, route.device);
      AppendColumn(line, route.networkText);
      line += route.netmaskText + "\r\n";
      if (SendReply(socket, line) != 0) return -1;
    }
  }
  return 0;
}

constexpr SubCommand kSubCommands[] = {{"add", RouteAdd},   {"del", RouteDel},     {"save", RouteSave},
                                       {"load", RouteLoad}, {"clear", RouteClear}, {"show", RouteShow}};

}  // namespace

std::int32_t GwrouteCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, RouteShow, kUsage);
}
