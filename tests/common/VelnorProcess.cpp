#include "tests/common/VelnorProcess.h"

#include <fstream>
#include <sstream>

namespace testing_support {

namespace {

std::vector<std::string> Arguments(const std::vector<std::string>& args) {
  std::vector<std::string> all{VELNOR_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

std::vector<std::string> Environment(const std::string& unitDir, const std::string& notify) {
  std::vector<std::string> settings{"VELNOR_UNIT_DIR=" + unitDir};
  if (!notify.empty()) settings.push_back("NOTIFY_SOCKET=" + notify);
  return settings;
}

}  // namespace

std::string Slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

VelnorProcess::VelnorProcess(const std::vector<std::string>& args, const std::string& unitDir,
                             const std::string& notify)
    : PeerProcess(Arguments(args), "out.txt", "err.txt", Environment(unitDir, notify)) {}

}  // namespace testing_support
