#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

class CNacHttpClient;

// The delivery dispatcher as the insight commands and the metrics page see it: the
// controller hands it over once it runs and takes it back before it stops it, so that a
// session's "acl status" never reaches a dispatcher that is being destroyed.
void SetInsightHttpClient(CNacHttpClient* httpClient);

// Requests waiting for address (every gateway: none), pending and queued; 0 without a
// dispatcher.
std::int32_t WaitingRequests(std::optional<std::uint32_t> address);

// The same for every gateway that has any, by address; empty without a dispatcher.
std::unordered_map<std::uint32_t, std::int32_t> WaitingByGateway();
