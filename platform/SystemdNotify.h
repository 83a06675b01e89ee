#pragma once

namespace platform {

// Whether the process was started by systemd as a notify-type service ($NOTIFY_SOCKET).
bool RunningUnderSystemd();

// Sends one state datagram ("READY=1", "STOPPING=1") to $NOTIFY_SOCKET; false when there
// is no socket or the send fails. A leading '@' names the abstract namespace.
[[nodiscard]] bool NotifySystemd(const char* state);

}  // namespace platform
