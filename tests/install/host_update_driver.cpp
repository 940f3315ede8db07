// Runs one hosts replacement in a process of its own, so that tests can run it under a fault
// injector or in a private mount namespace: host_update_driver <this_file> <hosts> <log>, or
// the recovery of the next start: host_update_driver --recover <hosts> <log>
#include <cstdio>
#include <string>

#include "install/host_update.h"
#include "support/file_reader.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: host_update_driver <this_file>|--recover <hosts> <log>\n", stderr);
    return 2;
  }
  const vellomar::support::LogTarget log{argv[3], vellomar::support::LineEnd::kLf, {}};
  if (std::string(argv[1]) == "--recover") {
    return vellomar::install::RecoverInterruptedInstall(argv[2], log) ? 0 : 1;
  }
  // Installed as the programs install a file: read through its descriptor while copied.
  vellomar::platform::ReadStatus status;
  vellomar::platform::InputFile file =
      vellomar::support::OpenForReading(argv[1], vellomar::support::InstallReadOptions(), status);
  if (status != vellomar::platform::ReadStatus::kOk) return 2;
  (void)vellomar::install::InstallHostsFile(file, argv[2], log);
  return 0;
}
