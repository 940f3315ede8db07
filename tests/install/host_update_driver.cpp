// Runs one hosts replacement in a process of its own, so that tests can run it under a fault
// injector or in a private mount namespace: host_update_driver <this_file> <hosts> <log>
#include <cstdio>

#include "install/host_update.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: host_update_driver <this_file> <hosts> <log>\n", stderr);
    return 2;
  }
  vellomar::install::DoHostUpdate(argv[1], argv[2], {argv[3], vellomar::support::LineEnd::kLf, {}});
  return 0;
}
