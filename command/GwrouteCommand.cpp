#include "command/GwrouteCommand.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command/CommandEvent.h"
#include "command/CommandFamily.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "command/CommandWords.h"
#include "command/DefaultNetmask.h"
#include "command/ShowColumns.h"
#include "command/ShowPieces.h"
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

// A piece of the route listing: the live routes of live gateways, each gateway's address
// with the number of its routes that follow in routes.
struct RoutePiece {
  std::vector<std::pair<std::string, std::size_t>> gateways;
  std::vector<CGwrouteData> routes;
};

// Where the route listing goes on: the gateway whose routes were copied last and, within
// it, the last route looked at.
struct RouteCursor {
  std::optional<std::int64_t> gateway;
  std::optional<std::int64_t> route;
};

// Fills the piece with the routes after the cursor, up to a piece's worth, looking at no
// more gateways than that either; gives whether any may follow. The gateway registry's
// lock is taken before a route list's.
bool CopyRoutePiece(RouteCursor& cursor, RoutePiece& piece) {
  piece.gateways.clear();
  piece.routes.clear();
  piece.gateways.reserve(kShowPieceRecords);
  piece.routes.reserve(kShowPieceRecords);
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  CNacNode* node = gateways.GetHead(guard);
  while (node != nullptr && cursor.gateway && node->Order() < *cursor.gateway) node = gateways.GetNext(node, guard);
  for (std::size_t looked = 0; node != nullptr && looked < kShowPieceRecords; ++looked) {
    // The routes of a gateway met for the first time start at their head.
    if (!cursor.gateway || node->Order() != *cursor.gateway) cursor.route.reset();
    cursor.gateway = node->Order();
    CGwData& gateway = *node->RecordAs<CGwData>();
    if (gateway.IsLive()) {
      const std::size_t before = piece.routes.size();
      const bool more =
          gateway.Routes().CopyLivePiece(cursor.route, kShowPieceRecords - before, piece.routes);
      if (piece.routes.size() > before) piece.gateways.emplace_back(gateway.addressText, piece.routes.size() - before);
      if (more || piece.routes.size() == kShowPieceRecords) return true;
    }
    node = gateways.GetNext(node, guard);
  }
  return node != nullptr;
}

std::int32_t RouteShow(int socket, int /*wordCount*/, char** /*words*/) {
  if (SendReply(socket, "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n") != 0) return -1;
  RoutePiece piece;
  RouteCursor cursor;
  const auto format = [&piece](std::string& text) {
    std::size_t next = 0;
    for (const auto& [address, count] : piece.gateways) {
      for (const std::size_t end = next + count; next < end; ++next) {
        const CGwrouteData& route = piece.routes[next];
        AppendColumn(text, address);
        AppendColumn(text, route.device);
        AppendColumn(text, route.networkText);
        text += route.netmaskText + "\r\n";
      }
    }
    return true;
  };
  return SendInPieces(socket, [&] { return CopyRoutePiece(cursor, piece); }, format);
}

constexpr SubCommand kSubCommands[] = {{"add", RouteAdd},   {"del", RouteDel},     {"save", RouteSave},
                                       {"load", RouteLoad}, {"clear", RouteClear}, {"show", RouteShow}};

}  // namespace

std::int32_t GwrouteCommand(int socket, int wordCount, char** words) {
  return RunFamily(socket, wordCount, words, kSubCommands, RouteShow, kUsage);
}
