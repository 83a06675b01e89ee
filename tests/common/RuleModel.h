#pragma once

// What operators register, as plain values, and the access-list rules that implies for each
// gateway: the tests' own account of the rules, written apart from the service.

#include <string>
#include <vector>

namespace rule_model {

struct Route {
  std::string gateway, device, network;
  int prefix;
  bool operator==(const Route&) const = default;
};
// A PC by MAC (with or without its address), or a network.
struct Pc {
  std::string mac, source, network;
  int prefix = 0;
  bool operator==(const Pc&) const = default;
};
struct Server {
  std::string address, protocol, port;
  bool operator==(const Server&) const = default;
};
struct Entry {
  bool accept;
  std::string source, mac;
  bool operator==(const Entry&) const = default;
};

struct Registries {
  std::vector<std::string> gateways;
  std::vector<Route> routes;
  std::vector<Pc> pcs;
  std::vector<Server> servers;
  std::vector<Entry> entries;

  void Put(const Route& r) { routes.push_back(r); }
  void Put(const Pc& p) { pcs.push_back(p); }
  void Put(const Server& s) { servers.push_back(s); }
  void Put(const Entry& e) { entries.push_back(e); }
};

// The console line that adds or deletes the record.
std::string Command(const Route& r, bool add);
std::string Command(const Pc& p, bool add);
std::string Command(const Server& s, bool add);
std::string Command(const Entry& e, bool add);

// What a reset of gateway sends after its two resets, repeats included, sorted: for each of
// its routes (or none), each PC and each server, the client rules and then the rules of every
// NAC entry; so the NAC rules come once per server. Nothing for an unregistered gateway.
std::vector<std::string> ResetRules(const Registries& registries, const std::string& gateway);
// The NAC rules of every entry for each route (or none) and PC of gateway, once each and
// sorted: what a change of the entries sends.
std::vector<std::string> EntryRules(const Registries& registries, const std::string& gateway);
// The rules the gateway should hold: a gateway keeps each rule once.
std::vector<std::string> RuleSet(const Registries& registries, const std::string& gateway);

// A request body as the order it carries: "reset client", or "add access-list ...".
std::string Order(const std::string& body);
// A reset's orders as they can be compared: the two resets in their place, the rest sorted.
std::vector<std::string> ResetOrders(std::vector<std::string> orders);
// The orders a reset of gateway must send, as ResetOrders gives them.
std::vector<std::string> ExpectedResetOrders(const Registries& registries, const std::string& gateway);

// The lines indented, one a line, at most `most` of them.
std::string Lines(const std::vector<std::string>& lines, std::size_t most = 40);

}  // namespace rule_model
