#pragma once
// Replacing the system hosts file with a backup.

#include <cstddef>
#include <functional>
#include <memory>
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
inline constexpr std::string_view kBadMarksNote = "Removed a marks note it could not read: ";
inline constexpr std::string_view kNotAHostsFile = "Not a hosts file (NUL bytes), not installed: ";
inline constexpr std::string_view kUnsafeFolder = "Other users can change the folder of ";
inline constexpr std::string_view kCouldNotLock = "Could not lock the installs over ";

// What an install did.
struct HostUpdateOutcome {
  enum class Result {
    kNothingToDo,     // the file to install or the hosts file is absent; nothing touched or logged
    kInstalled,       // the hosts file holds the new bytes
    kNotRead,         // the bytes to install could not be had or are no hosts file (read_status)
    kNotInstalled,    // the hosts file keeps its old bytes
    kDamaged,         // a rewrite in place failed and the old bytes could not be put back
    kNotAuthorized,   // the administrator's authentication was cancelled or refused; untouched
    kBusy,            // another install held the install lock too long; untouched
    kOwnEntriesKept,  // the caller's check: the new file lacks entries of the user's own; untouched
  };
  Result result = Result::kNothingToDo;
  platform::ReadStatus read_status = platform::ReadStatus::kOk;  // of the file to install
  bool backup_written = false;
  // Every log line written, in order, without its line end. A line that says a mark, owner or
  // mode was not restored can come with kInstalled.
  std::vector<std::string> log_lines;
};

// Puts `bytes` in the place of `hosts_path`, after saving the current hosts file as
// hosts_path + ".ZRB". A hosts file that the program did not write (no start marker in it) is
// first kept as hosts_path + ".vellomar-original", unless anything is there already: the first
// original kept is never replaced. Bytes that are empty, larger than platform::kMaxFileBytes or
// hold a NUL byte are not a hosts file and are refused (kNotRead). Returns kNothingToDo silently
// when the hosts file is absent (or hidden): the system never gets a hosts file it did not have.
// A hosts file that is a link stays a link: the file it points to is replaced, in its own
// folder, keeping its owner, mode and marks. The hosts file always holds either its old content
// or the whole new content, except after kDamaged. Each step that does not take effect is logged
// (the k... texts above) followed by the path.
[[nodiscard]] HostUpdateOutcome InstallHostsBytes(std::string_view bytes,
                                                  const std::string& hosts_path,
                                                  const support::LogTarget& log);

// Bytes the install copies at a time.
inline constexpr std::size_t kCopyBlock = std::size_t{256} << 10;

// What an install of an open file lets its caller see on the way, and how it reads.
struct InstallWatch {
  // Each block of the file installed, as it is copied.
  std::function<void(std::string_view)> new_bytes;
  // Each block of the hosts file being replaced, as it is backed up.
  std::function<void(std::string_view)> old_bytes;
  std::size_t block = kCopyBlock;  // at least 1
};

// InstallHostsBytes for the content of `file` (opened by the caller, as
// support::InstallReadOptions opens it), copied through one buffer of watch.block bytes: the
// content is never held whole, except where the hosts file must be rewritten in place (a mount
// point). The new content is written beside the hosts file and checked (not empty, no NUL, read
// through to the length it had at the open) before the backup or anything else is touched;
// otherwise kNotRead with read_status saying why, and nothing logged: the caller names its file.
// The hosts file is read once, for the backup and the original together.
[[nodiscard]] HostUpdateOutcome InstallHostsFile(platform::InputFile& file,
                                                 const std::string& hosts_path,
                                                 const support::LogTarget& log,
                                                 const InstallWatch& watch = {});

// True when `bytes` may be installed as a hosts file: not empty, within the size cap, no NUL.
bool IsInstallable(std::string_view bytes);

// Puts back the marks (immutable, append-only flag, owner write bit) of a hosts file whose
// install was interrupted (the program was killed while they were cleared), and removes the
// temporary files such an install left. Call at start-up. True when something was restored;
// each restore is logged as "Restored the marks of " + path, a failure as InstallHostsBytes
// logs it. A note that does not read as one this program writes asks for nothing: it is logged
// (kBadMarksNote) and removed.
[[nodiscard]] bool RecoverInterruptedInstall(const std::string& hosts_path,
                                             const support::LogTarget& log);

// Puts the backup (hosts_path + ".ZRB") back in the place of the hosts file by the same safe
// replacement, and only then keeps the replaced hosts file as the new backup. False, with the
// hosts file unchanged, when there is no backup, it is no hosts file, or it could not be put in
// place; each step that does not take effect is logged as InstallHostsBytes logs it.
[[nodiscard]] bool RestoreBackup(const std::string& hosts_path, const support::LogTarget& log);

// How long an install waits while another one holds the lock.
inline constexpr int kInstallLockWaitMs = 30000;

// Where the install lock lives and how long an install waits for it.
struct LockPolicy {
  std::string folder;  // empty: platform::InstallLockFolder()
  int wait_ms = kInstallLockWaitMs;
};

// Takes the lock of installs over `hosts_path`, waiting as `policy` says, and then puts back the
// marks of an install that was killed. Every install and restore runs while holding it. nullptr,
// logged as kCouldNotLock + hosts_path, when the lock could not be had.
[[nodiscard]] std::unique_ptr<platform::InstanceLock> LockAndRecover(const std::string& hosts_path,
                                                                     const support::LogTarget& log,
                                                                     const LockPolicy& policy = {});

// What putting back the original did.
enum class RestoreOriginalResult {
  kRestored,        // the hosts file holds the original again; the replaced one is the backup
  kAlreadyInPlace,  // the hosts file holds the original already: nothing was touched
  kFailed,          // no original, or it did not take effect; the hosts file is unchanged
};
// Installs hosts_path + ".vellomar-original" as InstallHostsBytes installs bytes.
[[nodiscard]] RestoreOriginalResult RestoreOriginal(const std::string& hosts_path,
                                                    const support::LogTarget& log);

}  // namespace vellomar::install
