// Writes the unit file that the package installs: the same text as the unit velnor -Service
// writes, for the packaged executable, working directory and account.
//   velnor-packaged-unit OUTPUT EXECUTABLE WORKING_DIRECTORY USER

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "platform/SystemdUnits.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUTPUT EXECUTABLE WORKING_DIRECTORY USER\n", argv[0]);
    return 2;
  }
  const std::optional<std::string> text = platform::ServiceUnitText({"Velnor", argv[2], argv[3], argv[4], ""});
  if (!text) {
    std::fprintf(stderr, "%s: a path that a unit file cannot hold\n", argv[0]);
    return 1;
  }
  std::ofstream output(argv[1], std::ios::trunc);
  output << *text;
  output.close();
  return output ? 0 : 1;
}
