#pragma once
// The administrator's install: the helper that runs as the administrator
// (vellomar-install-helper: through pkexec on POSIX, started elevated on Windows), and how its
// caller reads the way it ended.
//
// The helper takes the bytes to install through platform::OpenHelperChannel (POSIX: no argument
// and its standard input; Windows: the caller's pipe), at most platform::kMaxFileBytes, the cap
// of the programs; installs them over the system hosts file that it finds itself, as
// InstallHostsBytes installs them; sends back each log text as a line, and exits with one of
// the statuses below.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "install/host_update.h"
#include "platform/platform.h"

namespace vellomar::install {

// The helper's exit status. pkexec itself ends with 126 (the authentication dialog was
// dismissed) or 127 (not authorized, or pkexec failed), which these values never take.
enum class HelperStatus : int {
  kInstalled = 0,     // the hosts file holds the input
  kNotInstalled = 1,  // the hosts file keeps its old content (the log texts say why)
  kDamaged = 2,       // a rewrite in place failed half-way and could not be undone
  kNoHostsFile = 3,   // there is no system hosts file; nothing was created
  kEmptyInput = 4,    // refused: no bytes to install
  kTooLarge = 5,      // refused: more than platform::kMaxFileBytes
  kUsage = 6,         // refused: not called as its caller calls it, or the input was cut short
  kBusy = 7,          // another install held the install lock too long
  kNotText = 8,       // refused: the input holds NUL bytes, which no hosts file does
};

// What the helper does once its input is read: takes the install lock, puts back the marks of an
// install that was killed, and installs `input`. `log_lines` gets every log text.
HelperStatus RunHelperInstall(std::string_view input, const std::string& hosts_path,
                              std::vector<std::string>& log_lines);

// Why the install helper was not run as the administrator: told apart by pkexec's status and
// its message, or (Windows) by the declined consent prompt.
enum class AuthRefusal {
  kDismissed,      // the password dialog was cancelled (126), or the consent prompt declined
  kNotAuthorized,  // polkit said no
  kNoAgent,        // no authentication agent runs to ask for the password
  kNoPolkit,       // the polkit daemon could not be asked
  kFailed,         // pkexec failed otherwise
};

// The outcome of the helper run as the administrator, as the caller sees it.
struct PrivilegedOutcome {
  HostUpdateOutcome::Result result = HostUpdateOutcome::Result::kNotInstalled;
  AuthRefusal refusal = AuthRefusal::kFailed;  // for kNotAuthorized
  std::vector<std::string> log_lines;          // for the caller's log
};

// Maps how `command` (PrivilegedInstallCommand) ended in `run` to an install result and the
// log texts: the helper's log lines for its own statuses; kNotAuthorized, with the refusal, for
// pkexec's own 126 and 127 and for a declined consent prompt.
PrivilegedOutcome ReadHelperExit(const platform::RunResult& run,
                                 const std::vector<std::string>& command);

}  // namespace vellomar::install
