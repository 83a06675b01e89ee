#pragma once

#include <cstdint>

// The "acl" console command, the rule preview and convergence status: what each gateway
// should hold and whether it holds it.
//   acl show        every gateway with the number of rules it should hold
//   acl show GW     the request bodies GW would receive at a reset now, in sending order
//   acl status      one line per gateway: its state, its deliveries, and whether what it
//                   acknowledged is what it should hold
// Nothing is sent or changed; the result is 0 (-1 when a reply cannot be sent).
std::int32_t AclCommand(int socket, int wordCount, char** words);
