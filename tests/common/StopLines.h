#pragma once

#include <string>
#include <vector>

namespace testing_support {

// What the controller logs, in this order, when it is told to stop. The delivery
// dispatcher's own lines (its five senders, free and each stopped twice) come inside its pair of
// lines, unless it was never made.
inline std::vector<std::string> ControllerStopLines(bool withDispatcher = true) {
  std::vector<std::string> lines = {
      "CNacControl::MsgProc: I received a service stop demand.",
      "I generated an end event of an KeepAlive.",
      "An KeepAlive was finished normally.",
      "I generated an end event of an KeepAliveStart.",
      "An KeepAliveStart was finished normally.",
      "I generated an end event of an KeepAliveStop.",
      "An KeepAliveStop was finished normally.",
      "I generated an end event of an HTTP client.",
  };
  if (withDispatcher) {
    lines.push_back("I started end processing of an HTTP client.");
    for (int number = 0; number < 5; ++number) {
      for (int time = 0; time < 2; ++time) {  // stopped, then stopped again as it is destroyed
        lines.push_back("I delete a queue of an HTTP client thread. No " + std::to_string(number) + ". GW(0.0.0.0:0).");
        lines.push_back("I started end processing of an HTTP client thread.");
        lines.push_back("End processing of an HTTP client thread was finished.");
      }
    }
    lines.push_back("End processing of an HTTP client was finished.");
  }
  lines.insert(lines.end(), {"An HTTP client was finished normally.", "I generated an end event of an command server.",
                             "An command server was finished normally."});
  return lines;
}

inline const std::vector<std::string> kControllerStopLines = ControllerStopLines();

}  // namespace testing_support
