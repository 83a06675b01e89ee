#include "service/ServiceHost.h"

int main(int argc, char** argv) {
  CServiceHost host;
  return host.Main(argc, argv);
}
