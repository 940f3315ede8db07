#pragma once
// Replacing the system hosts file with a backup.

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/log.h"

namespace vellomar::install {

inline constexpr std::string_view kBackupSuffix = ".ZRB";
// The hosts file as it was before the program first wrote it, kept beside it for good.
inline constexpr std::string_view kOriginalSuffix = ".vellomar-original";
// Log texts, each followed directly by a path.
inline constexpr std::string_view kCouldNotKill = "Could not Kill ";
inline constexpr std::string_view kDidNotBackup = "Did not backup ";
inline constexpr std::string_view kCouldNotFind = "Could not Find ";
inline constexpr std::string_view kCouldNotCopy = "Could not Copy to ";
inline constexpr std::string_view kMayBeDamaged = "HOSTS may be damaged: ";
inline constexpr std::string_view kCouldNotRestoreFlags = "Could not Restore flags of ";
inline constexpr std::string_view kCouldNotRestoreMode = "Could not Restore mode of ";
inline constexpr std::string_view kRecoveredInstall = "Restored the marks of ";
inline constexpr std::string_view kDidNotKeepOriginal = "Did not keep the original ";

// What an install did.
struct HostUpdateOutcome {
  enum class Result {
    kNothingToDo,    // the file to install or the hosts file is absent; nothing touched or logged
    kInstalled,      // the hosts file holds the new bytes
    kNotRead,        // the file to install could not be read (see read_status); hosts untouched
    kNotInstalled,   // the hosts file keeps its old bytes
    kDamaged,        // a rewrite in place failed and the old bytes could not be put back
    kNotAuthorized,  // the administrator's authentication was cancelled or refused; untouched
  };
  Result result = Result::kNothingToDo;
  platform::ReadStatus read_status = platform::ReadStatus::kOk;  // of the file to install
  bool backup_written = false;
  // Every log line written, in order, without its line end. A line that says a mark, owner or
  // mode was not restored can come with kInstalled.
  std::vector<std::string> log_lines;
};

// Puts a copy of `this_file` in the place of `hosts_path`, after saving the current hosts file
// as hosts_path + ".ZRB". Returns kNothingToDo silently when either file is absent (or hidden).
// `this_file` is read once, through a descriptor, never through a link, and must be a regular
// file of at most platform::kMaxFileBytes; otherwise "Could not Find " and nothing is touched.
// A hosts file that is a link stays a link: the file it points to is replaced, in its own
// folder, keeping its owner, mode and marks. The hosts file always holds either its old
// content or the whole new content, except after kDamaged. Each step that does not take effect
// is logged (the k... texts above) followed by the path. The result may be ignored by callers
// that judge the install afterwards by its verdict.
HostUpdateOutcome DoHostUpdate(const std::string& this_file, const std::string& hosts_path,
                               const support::LogTarget& log);

// As DoHostUpdate, with the bytes to install given (never empty). A hosts file that the program
// did not write (no start marker in it) is first kept as hosts_path + ".vellomar-original",
// unless anything is there already: the first original kept is never replaced.
[[nodiscard]] HostUpdateOutcome InstallHostsBytes(std::string_view bytes,
                                                  const std::string& hosts_path,
                                                  const support::LogTarget& log);

// Puts back the marks (immutable, append-only flag, owner write bit) of a hosts file whose
// install was interrupted (the program was killed while they were cleared), and removes the
// temporary files such an install left. Call at start-up. True when something was restored;
// each restore is logged as "Restored the marks of " + path, a failure as for DoHostUpdate.
[[nodiscard]] bool RecoverInterruptedInstall(const std::string& hosts_path,
                                             const support::LogTarget& log);

// Puts the backup (hosts_path + ".ZRB") back in the place of the hosts file by the same safe
// replacement, and only then keeps the replaced hosts file as the new backup. False, with the
// hosts file unchanged, when there is no backup or it could not be put in place; each step that
// does not take effect is logged as DoHostUpdate logs it.
[[nodiscard]] bool RestoreBackup(const std::string& hosts_path, const support::LogTarget& log);

// Installs hosts_path + ".vellomar-original" as DoHostUpdate installs a file; false, with the
// hosts file unchanged, when there is none or it did not take effect.
[[nodiscard]] bool RestoreOriginal(const std::string& hosts_path, const support::LogTarget& log);

}  // namespace vellomar::install
