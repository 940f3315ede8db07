// vellomar-install-helper: the install that runs as the administrator for a user who allowed
// it (pkexec on POSIX, the consent prompt on Windows). It takes nothing from its caller but the
// bytes to install, through the channel the platform gives it: the hosts file is the one the
// system has, found as the programs find it at start-up.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "install/privileged.h"
#include "platform/platform.h"

namespace {

int Run(int argc, char* argv[]) {
  using vellomar::install::HelperStatus;
  namespace platform = vellomar::platform;
  ::umask(022);
  const auto channel =
      platform::OpenHelperChannel(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  if (!channel) {
    const std::string_view usage = platform::HelperUsage();
    std::fprintf(stderr, "%.*s\n", static_cast<int>(usage.size()), usage.data());
    return static_cast<int>(HelperStatus::kUsage);
  }
  std::string input;
  switch (channel->ReadInput(input, platform::kMaxFileBytes)) {
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
  // A line that does not reach the caller changes nothing that was done: the status says it.
  for (const auto& line : log_lines) (void)channel->WriteLine(line);
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Out of memory (a caller's address-space limit, say) before the install took effect: the hosts
  // file is untouched. After it, the install reports its own outcome and never throws.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("vellomar-install-helper: out of memory; the hosts file is unchanged\n", stderr);
    return static_cast<int>(vellomar::install::HelperStatus::kNotInstalled);
  }
}
