#include "platform/StopSignals.h"
#include "service/ServiceHost.h"

int main(int argc, char** argv) {
  platform::IgnoreUnusedSignals();
  CServiceHost host;
  return host.Main(argc, argv);
}
