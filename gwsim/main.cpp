// velnor-gw: simulated gateway routers for tests, benchmarks and the demo.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gwsim/ControlCommands.h"
#include "gwsim/ControlServer.h"
#include "gwsim/Endpoint.h"
#include "gwsim/GatewaySimulator.h"

namespace {

constexpr char kUsage[] =
    "usage: velnor-gw [--user U] [--pass P] [--word W] [--chunked] [--control ADDR:PORT]\n"
    "                 ADDR:PORT [ADDR:PORT...]\n"
    "\n"
    "Simulates one gateway router per ADDR:PORT (port 0: any free port): it takes the ACL\n"
    "requests of velnor (HTTP POST /quarantine/qacl.cgi, Basic credentials U:P, default\n"
    "admin:tovin), keeps the rules they add and delete, and answers with the word W (default\n"
    "ok), by Content-Length or, with --chunked, chunked. Addresses outside 127.0.0.0/8 are\n"
    "taken only inside a private network namespace (VELNOR_PRIVATE_NETNS set).\n"
    "\n"
    "--control ADDR:PORT opens a line-based control port on a loopback address. Each reply\n"
    "ends with a line \".\"; ADDR:PORT after the command names one gateway, else all:\n"
    "  rules [ADDR:PORT]                   the rules, sorted, as \"ADDR:PORT NAME RULE...\"\n"
    "  stats [ADDR:PORT]                   connections, requests, applied, rejected, errors\n"
    "  set [ADDR:PORT] word TEXT...        the result word, e.g. set word invalid acl\n"
    "  set [ADDR:PORT] status N            the HTTP status of the answers\n"
    "  set [ADDR:PORT] delay MS            a pause before each answer\n"
    "  set [ADDR:PORT] chunked on|off      chunked answers or Content-Length\n"
    "  set [ADDR:PORT] fault none|refuse|close|garbage|silent|trickle|endless\n"
    "  set [ADDR:PORT] fault raw BYTES...  these bytes instead of an answer (\\r \\n \\xHH)\n"
    "  quit\n"
    "\n"
    "SIGUSR1 prints the rules to standard output; SIGINT or SIGTERM ends it.\n";

struct Options {
  std::string user = "admin";
  std::string password = "tovin";
  std::string word = "ok";
  bool chunked = false;
  std::optional<gwsim::Endpoint> control;
  std::vector<gwsim::Endpoint> gateways;
};

// None after printing why (or the help); help sets *exitCode to 0.
std::optional<Options> ParseOptions(int argc, char** argv, int* exitCode) {
  Options options;
  *exitCode = 2;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      *exitCode = 0;
      return std::nullopt;
    } else if (arg == "--chunked") {
      options.chunked = true;
    } else if ((arg == "--user" || arg == "--pass" || arg == "--word" || arg == "--control") && hasValue) {
      const std::string value = argv[++i];
      if (arg == "--user") options.user = value;
      if (arg == "--pass") options.password = value;
      if (arg == "--word") options.word = value;
      if (arg == "--control") {
        options.control = gwsim::ParseEndpoint(value);
        if (!options.control) {
          std::cerr << "velnor-gw: --control " << value << " is not ADDR:PORT\n";
          return std::nullopt;
        }
      }
    } else if (const auto endpoint = gwsim::ParseEndpoint(arg)) {
      options.gateways.push_back(*endpoint);
    } else {
      std::cerr << "velnor-gw: " << arg << ": not understood; see velnor-gw --help\n";
      return std::nullopt;
    }
  }
  if (options.gateways.empty()) {
    std::cerr << "velnor-gw: no gateway given; see velnor-gw --help\n";
    return std::nullopt;
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = 0;
  const auto options = ParseOptions(argc, argv, &exitCode);
  if (!options) return exitCode;

  // Taken by sigwait on this thread; blocked before any thread starts, so none gets them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  try {
    gwsim::Behaviour behaviour;
    behaviour.word = options->word;
    behaviour.chunked = options->chunked;
    std::vector<std::unique_ptr<gwsim::GatewaySimulator>> gateways;
    std::vector<gwsim::GatewaySimulator*> views;
    for (const gwsim::Endpoint& endpoint : options->gateways) {
      gateways.push_back(std::make_unique<gwsim::GatewaySimulator>(endpoint.address, endpoint.port,
                                                                  options->user, options->password));
      gateways.back()->RecordRequests(false);  // only the rules matter here; a long run would grow
      gateways.back()->SetBehaviour(behaviour);
      views.push_back(gateways.back().get());
      std::cout << "velnor-gw: gateway " << endpoint.address << ":" << gateways.back()->Port() << "\n";
    }
    const gwsim::ControlCommands commands(views);
    std::unique_ptr<gwsim::ControlServer> control;
    if (options->control) {
      control = std::make_unique<gwsim::ControlServer>(options->control->address, options->control->port,
                                                      [&commands](std::string_view line) { return commands.Run(line); });
      std::cout << "velnor-gw: control " << options->control->address << ":" << control->Port() << "\n";
    }
    std::cout << std::flush;

    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      if (signal != SIGUSR1) break;
      std::cout << commands.RulesText() << std::flush;
    }
    if (control) control->Stop();
    for (auto& gateway : gateways) gateway->Stop();
  } catch (const std::exception& error) {
    std::cerr << "velnor-gw: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
