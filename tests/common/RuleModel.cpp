#include "tests/common/RuleModel.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace rule_model {
namespace {

std::uint32_t Value(const std::string& address) { return ntohl(::inet_addr(address.c_str())); }
std::uint32_t Mask(int prefix) { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }
std::string MaskText(int prefix) {
  const in_addr mask{htonl(Mask(prefix))};
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &mask, text, sizeof text);
}

bool Inside(const std::string& address, const Route& route) {
  return ((Value(address) ^ Value(route.network)) & Mask(route.prefix)) == 0;
}

// One access-list line as a gateway lists it: the list name, the action, then each field
// that is given, in the gateway's fixed order.
struct Rule {
  std::string list, action, in, out, protocol, source, destination, sport, dport, mac;
};
std::string Text(const Rule& rule) {
  std::string text = rule.list + " " + rule.action;
  const std::pair<const char*, const std::string*> fields[] = {
      {"in", &rule.in},         {"out", &rule.out},      {"protocol", &rule.protocol},
      {"source", &rule.source}, {"destination", &rule.destination}, {"sport", &rule.sport},
      {"dport", &rule.dport},   {"source-mac", &rule.mac}};
  for (const auto& [word, value] : fields) {
    if (!value->empty()) text += std::string(" ") + word + " " + *value;
  }
  return text;
}

// The "pc" rules that let pc and server reach each other behind route (none: the gateway
// has no routes).
void ClientRules(const Route* route, const Pc& pc, const Server& server, std::vector<std::string>& rules) {
  const auto pair = [&](const std::string& device, const std::string& source) {
    rules.push_back(
        Text({"pc", "accept", device, "", server.protocol, source, server.address, "", server.port, pc.mac}));
    rules.push_back(Text({"pc", "accept", "", device, server.protocol, server.address, source, server.port, "", ""}));
  };
  const bool macOnly = pc.source.empty() && pc.network.empty();
  if (route == nullptr) {
    if (macOnly) pair("", "");
    return;
  }
  if (macOnly || (!pc.mac.empty() && !pc.source.empty() && Inside(pc.source, *route))) pair(route->device, pc.source);
  if (!pc.network.empty() && Inside(pc.network, *route)) {
    pair(route->device, pc.network + "/" + std::to_string(pc.prefix));
  }
}

// The two "nac" rules of entry for pc behind route, when the entry is about that PC there.
void NacRules(const Route* route, const Pc& pc, const Entry& entry, std::vector<std::string>& rules) {
  if (!entry.mac.empty() && !pc.mac.empty() && entry.mac != pc.mac) return;
  if (!pc.source.empty()) {
    if (entry.source != pc.source || route == nullptr || !Inside(pc.source, *route)) return;
  } else if (!pc.network.empty()) {
    if (route == nullptr || pc.prefix != route->prefix || !Inside(pc.network, *route) ||
        !Inside(entry.source, *route)) {
      return;
    }
  } else if (entry.mac.empty()) {
    return;
  }
  const std::string action = entry.accept ? "accept" : "drop";
  const std::string device = route != nullptr ? route->device : "";
  const std::string& mac = entry.mac.empty() ? pc.mac : entry.mac;
  rules.push_back(Text({"nac", action, device, "", "", entry.source, "", "", "", mac}));
  rules.push_back(Text({"nac", action, "", device, "", "", entry.source, "", "", ""}));
}

std::string Verb(bool add) { return add ? " add " : " del "; }

}  // namespace

std::string Command(const Route& r, bool add) {
  return "gwroute" + Verb(add) + r.gateway + " network " + r.network + " netmask " + MaskText(r.prefix) + " dev " +
         r.device;
}
std::string Command(const Pc& p, bool add) {
  std::string words = p.mac.empty() ? "" : " source-mac " + p.mac;
  if (!p.source.empty()) words += " source " + p.source;
  if (!p.network.empty()) words += " network " + p.network + " netmask " + MaskText(p.prefix);
  return "pc" + Verb(add) + words.substr(1);
}
std::string Command(const Server& s, bool add) {
  return "quarantine" + Verb(add) + "source " + s.address + " protocol " + s.protocol + " sport " + s.port;
}
std::string Command(const Entry& e, bool add) {
  return "nac" + Verb(add) + (e.accept ? "accept" : "drop") + " source " + e.source +
         (e.mac.empty() ? "" : " source-mac " + e.mac);
}

namespace {

// Calls visit for each route of gateway, or once with none when it has no route; not at
// all for an unregistered gateway.
template <class Visit>
void EachRoute(const Registries& registries, const std::string& gateway, Visit visit) {
  if (std::find(registries.gateways.begin(), registries.gateways.end(), gateway) == registries.gateways.end()) return;
  bool any = false;
  for (const Route& route : registries.routes) {
    if (route.gateway != gateway) continue;
    any = true;
    visit(&route);
  }
  if (!any) visit(nullptr);
}

}  // namespace

std::vector<std::string> ResetRules(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> rules;
  EachRoute(registries, gateway, [&](const Route* route) {
    for (const Pc& pc : registries.pcs) {
      for (const Server& server : registries.servers) {
        ClientRules(route, pc, server, rules);
        for (const Entry& entry : registries.entries) NacRules(route, pc, entry, rules);
      }
    }
  });
  std::sort(rules.begin(), rules.end());
  return rules;
}

std::vector<std::string> EntryRules(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> rules;
  EachRoute(registries, gateway, [&](const Route* route) {
    for (const Pc& pc : registries.pcs) {
      for (const Entry& entry : registries.entries) NacRules(route, pc, entry, rules);
    }
  });
  std::sort(rules.begin(), rules.end());
  return rules;
}

std::vector<std::string> RuleSet(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> rules = ResetRules(registries, gateway);
  rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
  return rules;
}

std::string Order(const std::string& body) {
  const std::size_t acl = body.find("&acl=");
  if (acl != std::string::npos) return body.substr(acl + 5);
  if (body == "version=1&class=client&opcode=reset&count=0") return "reset client";
  if (body == "version=1&class=quarantine&opcode=reset&count=0") return "reset quarantine";
  return body;
}

std::vector<std::string> ResetOrders(std::vector<std::string> orders) {
  const auto rest = static_cast<std::ptrdiff_t>(std::min<std::size_t>(2, orders.size()));
  std::sort(orders.begin() + rest, orders.end());
  return orders;
}

std::vector<std::string> ExpectedResetOrders(const Registries& registries, const std::string& gateway) {
  std::vector<std::string> orders{"reset client", "reset quarantine"};
  for (const std::string& rule : ResetRules(registries, gateway)) orders.push_back("add access-list " + rule);
  return orders;
}

std::string Lines(const std::vector<std::string>& lines, std::size_t most) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < most; ++i) text += "  " + lines[i] + "\n";
  if (lines.size() > most) text += "  ... " + std::to_string(lines.size() - most) + " more\n";
  return text;
}

}  // namespace rule_model
