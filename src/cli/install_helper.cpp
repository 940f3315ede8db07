// vellomar-install-helper: the install that pkexec runs as root for a user who gave an
// administrator's password. It takes nothing from its caller but the bytes to install: the
// hosts file is the one the system has, found as the programs find it at start-up.
#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "install/privileged.h"
#include "platform/platform.h"

namespace {

int Run(int argc) {
  using vellomar::install::HelperStatus;
  namespace platform = vellomar::platform;
  ::umask(022);
  if (argc != 1) {
    std::fputs(
        "vellomar-install-helper takes no arguments; it reads the hosts file to install "
        "from its standard input\n",
        stderr);
    return static_cast<int>(HelperStatus::kUsage);
  }
  std::string input;
  switch (platform::ReadStandardInput(input, platform::kMaxFileBytes)) {
    case platform::ReadStatus::kOk:
      break;
    case platform::ReadStatus::kTooLarge:
      return static_cast<int>(HelperStatus::kTooLarge);
    default:
      return static_cast<int>(HelperStatus::kUsage);
  }
  std::vector<std::string> log_lines;
  const HelperStatus status = vellomar::install::RunHelperInstall(
      input, platform::FirstExisting(platform::HostsCandidates()), log_lines);
  for (const auto& line : log_lines) std::fprintf(stderr, "%s\n", line.c_str());
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char* /*argv*/[]) {
  // Out of memory (a caller's address-space limit, say) before the install took effect: the hosts
  // file is untouched. After it, the install reports its own outcome and never throws.
  try {
    return Run(argc);
  } catch (const std::bad_alloc&) {
    std::fputs("vellomar-install-helper: out of memory; the hosts file is unchanged\n", stderr);
    return static_cast<int>(vellomar::install::HelperStatus::kNotInstalled);
  }
}
