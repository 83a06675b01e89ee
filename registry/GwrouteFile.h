#pragma once

#include <atomic>

#include "registry/GwDataList.h"

// gwroute.csv: the routes of all gateways in one file, one line per live route, led by
// its gateway's address. Both functions take the gateway registry's lock before any route
// list's lock.

inline constexpr const char* kGwrouteFileName = "gwroute.csv";

// 0, or -1 when the file cannot be written whole. Deleted gateways that are not yet
// erased still have their live routes saved.
[[nodiscard]] int SaveGwroutes(CGwDataList& gateways, const char* path);

enum class GwrouteLoadResult {
  kLoaded,        // the whole file was read
  kNotOpened,     // no file, or one that cannot be read: every route is withdrawn all the same
  kBadLine,       // an invalid address, network or netmask, or no memory for a route
  kAppendFailed,  // a route could not be linked into its gateway's list
  kReadError,     // the file could not be read, or the read broke off
  kStopped,       // the stop flag ended it
};

// Withdraws every route of every gateway, then appends each route of the file, added
// flag set, to the live gateway with its address; lines of unknown gateways are skipped.
// The load stops at the first failure and keeps what it appended until then; a failure is
// logged with the file and the line, and makes the file's next save keep a backup.
[[nodiscard]] GwrouteLoadResult LoadGwroutes(CGwDataList& gateways, const char* path,
                                                           const std::atomic<int>* stop = nullptr);
