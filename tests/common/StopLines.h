#pragma once

#include <string>
#include <vector>

namespace testing_support {

// What the controller logs, in this order, when it is told to stop.
inline const std::vector<std::string> kControllerStopLines = {
    "CNacControl::MsgProc: I received a service stop demand.",
    "I generated an end event of an KeepAlive.",
    "An KeepAlive was finished normally.",
    "I generated an end event of an KeepAliveStart.",
    "An KeepAliveStart was finished normally.",
    "I generated an end event of an KeepAliveStop.",
    "An KeepAliveStop was finished normally.",
    "I generated an end event of an HTTP client.",
    "An HTTP client was finished normally.",
    "I generated an end event of an command server.",
    "An command server was finished normally.",
};

}  // namespace testing_support
