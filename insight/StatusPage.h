#pragma once

#include <string>

// The fleet status page: one read-only HTML page, with no script and nothing fetched from
// elsewhere, that reloads itself every 10 s. A table of every gateway (address, ON/OFF and
// since when, in sync or not, requests waiting, last answer, last failure; one
// <tr class="gw on|off"> each, in registry order), the totals, and the latest audit lines,
// newest first. Everything an operator or a gateway wrote is escaped.
std::string StatusPage();
