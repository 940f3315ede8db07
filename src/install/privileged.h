#pragma once
// The administrator's install: the helper that pkexec runs as root (vellomar-install-helper),
// and how its caller reads the way it ended.
//
// The helper takes no argument. It reads the bytes to install from its standard input (at
// most platform::kMaxFileBytes, the cap of the programs), installs them over the system hosts
// file that it finds itself, as InstallHostsBytes installs them, writes each log text on a line
// of its standard error, and exits with one of the statuses below.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "install/host_update.h"

namespace vellomar::install {

// The helper's exit status. pkexec itself ends with 126 (the authentication dialog was
// dismissed) or 127 (not authorized, or pkexec failed), which these values never take.
enum class HelperStatus : int {
  kInstalled = 0,     // the hosts file holds the input
  kNotInstalled = 1,  // the hosts file keeps its old content (the log texts say why)
  kDamaged = 2,       // a rewrite in place failed half-way and could not be undone
  kNoHostsFile = 3,   // there is no system hosts file; nothing was created
  kEmptyInput = 4,    // refused: no bytes on the standard input
  kTooLarge = 5,      // refused: more than platform::kMaxFileBytes
  kUsage = 6,         // refused: an argument was given, or the input could not be read
  kBusy = 7,          // another install held the install lock too long
  kNotText = 8,       // refused: the input holds NUL bytes, which no hosts file does
};

// What the helper does once its input is read: takes the install lock, puts back the marks of an
// install that was killed, and installs `input`. `log_lines` gets every log text.
HelperStatus RunHelperInstall(std::string_view input, const std::string& hosts_path,
                              std::vector<std::string>& log_lines);

// Why pkexec did not run the install helper, told apart by its status and its message.
enum class AuthRefusal {
  kDismissed,      // the password dialog was cancelled (126)
  kNotAuthorized,  // polkit said no
  kNoAgent,        // no authentication agent runs to ask for the password
  kNoPolkit,       // the polkit daemon could not be asked
  kFailed,         // pkexec failed otherwise
};

// The outcome of the helper run through pkexec, as the caller sees it.
struct PrivilegedOutcome {
  HostUpdateOutcome::Result result = HostUpdateOutcome::Result::kNotInstalled;
  AuthRefusal refusal = AuthRefusal::kFailed;  // for kNotAuthorized
  std::vector<std::string> log_lines;          // for the caller's log
};

// Maps how `command` (pkexec and the helper) ended to an install result and the log texts:
// the helper's standard error lines for its own statuses; kNotAuthorized, with the refusal, for
// pkexec's own 126 and 127.
PrivilegedOutcome ReadHelperExit(bool started, int exit_code, std::string_view error_output,
                                 const std::vector<std::string>& command);

}  // namespace vellomar::install
