#include "install/privileged.h"

#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::install {
namespace {

constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

}  // namespace

HelperStatus RunHelperInstall(std::string_view input, const std::string& hosts_path,
                              std::vector<std::string>& log_lines) {
  if (input.empty()) return HelperStatus::kEmptyInput;
  if (input.size() > platform::kMaxFileBytes) return HelperStatus::kTooLarge;
  if (!IsInstallable(input)) return HelperStatus::kNotText;
  if (hosts_path.empty() || !platform::FileExists(hosts_path)) return HelperStatus::kNoHostsFile;
  const support::LogTarget log{
      {}, support::LineEnd::kLf, [&](std::string_view text) { log_lines.emplace_back(text); }};
  const auto lock = LockAndRecover(hosts_path, log);
  if (!lock) return HelperStatus::kBusy;
  switch (InstallHostsBytes(input, hosts_path, log).result) {
    case HostUpdateOutcome::Result::kInstalled:
      return HelperStatus::kInstalled;
    case HostUpdateOutcome::Result::kDamaged:
      return HelperStatus::kDamaged;
    case HostUpdateOutcome::Result::kNothingToDo:
      return HelperStatus::kNoHostsFile;
    case HostUpdateOutcome::Result::kNotRead:
    case HostUpdateOutcome::Result::kNotInstalled:
    case HostUpdateOutcome::Result::kNotAuthorized:
    case HostUpdateOutcome::Result::kBusy:
    case HostUpdateOutcome::Result::kOwnEntriesKept:
      break;
  }
  return HelperStatus::kNotInstalled;
}

PrivilegedOutcome ReadHelperExit(const platform::RunResult& run,
                                 const std::vector<std::string>& command) {
  using Result = HostUpdateOutcome::Result;
  PrivilegedOutcome outcome;
  const std::string program = command.empty() ? std::string() : command.front();
  const int exit_code = run.exit_code;
  const std::string_view error_output = run.error_output;
  if (run.declined) {  // as pkexec's dismissed dialog: the user's choice, nothing to log
    outcome.result = Result::kNotAuthorized;
    outcome.refusal = AuthRefusal::kDismissed;
    return outcome;
  }
  if (!run.started) {
    outcome.log_lines.push_back("Could not start " + program);
    return outcome;
  }
  if (exit_code == kPkexecDismissed || exit_code == kPkexecNotAuthorized) {
    // pkexec's own words (polkit 0.105 to 124) tell its failures apart.
    const auto says = [&](std::string_view text) {
      return error_output.find(text) != std::string_view::npos;
    };
    outcome.result = Result::kNotAuthorized;
    outcome.refusal = exit_code == kPkexecDismissed     ? AuthRefusal::kDismissed
                      : says("Not authorized")          ? AuthRefusal::kNotAuthorized
                      : says("No authentication agent") ? AuthRefusal::kNoAgent
                      : says("Error getting authority") || says("Error checking for authorization")
                          ? AuthRefusal::kNoPolkit
                          : AuthRefusal::kFailed;
    return outcome;
  }
  support::ForEachLine(error_output, support::LineEnd::kLf, [&](std::string_view line) {
    if (!line.empty()) outcome.log_lines.emplace_back(line);
    return true;
  });
  switch (exit_code) {
    case static_cast<int>(HelperStatus::kInstalled):
      outcome.result = Result::kInstalled;
      break;
    case static_cast<int>(HelperStatus::kDamaged):
      outcome.result = Result::kDamaged;
      break;
    case static_cast<int>(HelperStatus::kNoHostsFile):
      outcome.result = Result::kNothingToDo;
      break;
    case static_cast<int>(HelperStatus::kEmptyInput):
    case static_cast<int>(HelperStatus::kTooLarge):
    case static_cast<int>(HelperStatus::kUsage):
    case static_cast<int>(HelperStatus::kNotText):
      outcome.result = Result::kNotRead;
      outcome.log_lines.push_back(std::string(kCouldNotCopy) +
                                  "HOSTS: " + (command.size() > 1 ? command[1] : program) +
                                  " refused its input (status " + std::to_string(exit_code) + ")");
      break;
    case static_cast<int>(HelperStatus::kNotInstalled):
      outcome.result = Result::kNotInstalled;
      break;
    case static_cast<int>(HelperStatus::kBusy):
      outcome.result = Result::kBusy;
      break;
    default:
      outcome.result = Result::kNotInstalled;
      outcome.log_lines.push_back(
          program + (exit_code < 0 ? std::string(" did not end normally")
                                   : " ended with status " + std::to_string(exit_code)));
      break;
  }
  return outcome;
}

}  // namespace vellomar::install
