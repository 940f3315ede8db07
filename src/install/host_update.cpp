// Replacing the hosts file. Nothing is deleted before its successor is complete on disk: the
// backup and the new hosts file are each written beside their target and renamed over it, and
// a hosts file that cannot be renamed over is rewritten in place with its old bytes kept for
// putting back. So the system never goes without a whole hosts file.
//
// The marks that keep the hosts file from being written are off only between the commit's
// rename (or rewrite) and their restoring; while they are off, a small note beside the hosts
// file says which they were, so that RecoverInterruptedInstall can put them back after a kill.
#include "install/host_update.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "merge/merge_writer.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::install {
namespace {

using CommitResult = platform::ReplacementFile::CommitResult;
using Result = HostUpdateOutcome::Result;

// How the new content fared; each failure has its own log line.
enum class Placement {
  kPlaced,        // the hosts file holds the new content
  kNotDisplaced,  // the old hosts file could be neither renamed over nor opened for writing
  kNotWritten,    // writing the new content failed; the hosts file keeps its old content
  kDamaged,       // a rewrite in place failed half-way and could not be undone
};

class Logger {
 public:
  Logger(const support::LogTarget& log, HostUpdateOutcome& outcome)
      : log_(log), outcome_(outcome) {}
  // Never throws: a line that finds no memory is lost rather than turning an install that
  // took effect into one reported as failed.
  void operator()(std::string_view text, const std::string& path) noexcept {
    try {
      std::string line = std::string(text) + path;
      (void)support::WriteLog(log_, line);  // a lost line still shows in the outcome
      outcome_.log_lines.push_back(std::move(line));
    } catch (const std::bad_alloc&) {
    }
  }

 private:
  const support::LogTarget& log_;
  HostUpdateOutcome& outcome_;
};

// Reads one of the files the install works with (the hosts file, its backup, original or note):
// never through a link at its name, hidden names included.
platform::ReadStatus ReadOwn(const std::string& path, std::string& bytes) {
  support::ReadOptions options;
  options.links = platform::Links::kRefuse;
  options.visible_only = false;
  return support::ReadWholeFile(path, bytes, options);
}

// The note of the marks cleared on `target`: hidden, beside it.
std::string NotePath(const std::string& target) {
  const auto slash = target.find_last_of('/');
  if (slash == std::string::npos) return "." + target + ".marks";
  return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".marks";
}

std::string NoteText(const platform::Protection& marks) {
  return std::to_string(marks.flags) + " " + (marks.added_owner_write ? "1" : "0") + "\n";
}

// The marks a note asks to put back: exactly the text NoteText writes, naming only marks that
// the program clears. Anything else asks for nothing.
std::optional<platform::Protection> ParseNote(std::string_view text) {
  platform::Protection marks;
  const char* end = text.data() + text.size();
  const auto [after_flags, error] = std::from_chars(text.data(), end, marks.flags);
  if (error != std::errc() || after_flags == text.data() || end - after_flags != 3 ||
      after_flags[0] != ' ' || (after_flags[1] != '0' && after_flags[1] != '1') ||
      after_flags[2] != '\n' || !platform::IsRestorableProtection(marks)) {
    return std::nullopt;
  }
  marks.added_owner_write = after_flags[1] == '1';
  if (NoteText(marks) != text) return std::nullopt;  // no leading zeros or signs
  return marks;
}

bool WriteNote(const std::string& target, const platform::Protection& marks) {
  const auto file = platform::CreateReplacementFile(NotePath(target));
  if (!file) return false;
  file->Write(NoteText(marks));
  return file->Commit() == CommitResult::kReplaced;
}

// Keeps `bytes`, the current hosts file, at `original` when the program did not write it and
// nothing is at `original` yet. False when it should have been kept and was not.
bool KeepOriginal(const std::string& target, const std::string& original, std::string_view bytes) {
  if (support::Contains(bytes, merge::kStartMarker)) return true;
  platform::RemoveStaleReplacements(original);
  // Kept before, or something of the user's, whatever it is (a dangling link included).
  std::string kept;
  const platform::ReadStatus there = ReadOwn(original, kept);
  if (there != platform::ReadStatus::kMissing) return there != platform::ReadStatus::kUnsafePath;
  const auto file = platform::CreateReplacementFile(original, target);
  if (!file) return false;
  file->Write(bytes);
  return file->Commit() == CommitResult::kReplaced;
}

// Puts a copy of the current hosts file at `backup`, replacing an older backup only once the
// new one is complete. The backup takes the owner, group and mode of the hosts file.
bool WriteBackup(const std::string& target, const std::string& backup, const std::string& bytes) {
  platform::RemoveStaleReplacements(backup);
  const auto file = platform::CreateReplacementFile(backup, target);
  if (!file) return false;
  file->Write(bytes);
  return file->Commit() == CommitResult::kReplaced;
}

Placement FromInPlace(platform::InPlaceResult result) {
  switch (result) {
    case platform::InPlaceResult::kRewritten:
      return Placement::kPlaced;
    case platform::InPlaceResult::kNotOpened:
      return Placement::kNotDisplaced;
    case platform::InPlaceResult::kKeptOld:
      return Placement::kNotWritten;
    case platform::InPlaceResult::kDamaged:
      break;
  }
  return Placement::kDamaged;
}

// Puts the marks back on `target`: the owner write bit first, as an immutable file's mode is
// fixed. Logs what could not be restored; true when everything was.
bool Restore(const std::string& target, const platform::Protection& removed, bool renamed,
             const std::string& hosts_path, Logger& log) {
  bool ok = true;
  // A renamed file was created with the old mode and needs no owner bit taken away.
  if (!renamed && !platform::RestoreOwnerWrite(target, removed)) {
    log(kCouldNotRestoreMode, hosts_path);
    ok = false;
  }
  if (!platform::RestoreProtection(target, removed)) {
    log(kCouldNotRestoreFlags, hosts_path);
    ok = false;
  }
  return ok;
}

Placement PlaceContent(const std::string& target, std::string_view bytes,
                       const std::string& hosts_path, Logger& log) {
  const std::string note_path = NotePath(target);
  platform::RemoveStaleReplacements(target);
  // Created before the marks are cleared, so that it takes the mode the user gave the file,
  // and flushed to disk before, so that the marks are off for as short a time as can be.
  auto file = platform::CreateReplacementFile(target, target);
  if (file) {
    file->Write(bytes);
    if (!file->Sync()) return Placement::kNotWritten;
  }
  const platform::Protection marks =
      platform::ProtectionOf(target).value_or(platform::Protection{});
  const bool noted = (marks.flags != 0 || marks.added_owner_write) && WriteNote(target, marks);
  const platform::Protection removed =
      platform::SetAttributesNormal(target).value_or(platform::Protection{});

  bool rewrite_in_place = file == nullptr;  // the folder takes no new file
  bool renamed = false;
  Placement placement = Placement::kNotWritten;
  if (file) {
    switch (file->Commit()) {
      case CommitResult::kReplaced:
        placement = Placement::kPlaced;
        renamed = true;
        break;
      case CommitResult::kWriteFailed:
        placement = Placement::kNotWritten;
        break;
      case CommitResult::kTargetBusy:  // a mount point, as in containers
        rewrite_in_place = true;
        break;
      case CommitResult::kRenameFailed:
        placement = Placement::kNotDisplaced;
        break;
    }
    file.reset();  // drops the temporary file unless it became the hosts file
  }
  if (rewrite_in_place) placement = FromInPlace(platform::RewriteInPlace(target, bytes));

  // The hosts file holds what `placement` says: nothing after this may change the verdict. The
  // note is kept when a mark could not be put back (or no memory was left to remove it): the
  // next start tries again.
  try {
    if (Restore(target, removed, renamed, hosts_path, log) && noted) {
      (void)platform::RemoveEntry(note_path);
    }
  } catch (const std::bad_alloc&) {
  }
  return placement;
}

}  // namespace

bool IsInstallable(std::string_view bytes) {
  return !bytes.empty() && bytes.size() <= platform::kMaxFileBytes &&
         std::memchr(bytes.data(), '\0', bytes.size()) == nullptr;
}

HostUpdateOutcome InstallHostsBytes(std::string_view bytes, const std::string& hosts_path,
                                    const support::LogTarget& log) {
  HostUpdateOutcome outcome;
  Logger logger(log, outcome);
  if (!IsInstallable(bytes)) {
    outcome.result = Result::kNotRead;
    outcome.read_status = bytes.empty()                            ? platform::ReadStatus::kMissing
                          : bytes.size() > platform::kMaxFileBytes ? platform::ReadStatus::kTooLarge
                                                                   : platform::ReadStatus::kNotText;
    if (outcome.read_status == platform::ReadStatus::kNotText) logger(kNotAHostsFile, hosts_path);
    return outcome;
  }
  // A link stays a link: what it points to is the hosts file that is replaced. Running as
  // root, a hosts file in (or linked through) a folder that others can change is refused.
  const platform::FolderSafety safety = platform::CheckPathSafety(hosts_path);
  if (safety != platform::FolderSafety::kSafe && safety != platform::FolderSafety::kMissing) {
    logger(kUnsafeFolder, hosts_path);
    outcome.result = Result::kNotInstalled;
    return outcome;
  }
  const auto target = platform::ResolvePath(hosts_path);
  if (!target || !platform::FileExists(hosts_path)) return outcome;
  bool placed = false;
  try {
    const std::string backup = hosts_path + std::string(kBackupSuffix);
    std::string current;
    const bool current_read = ReadOwn(*target, current) == platform::ReadStatus::kOk;
    if (current_read &&
        !KeepOriginal(*target, hosts_path + std::string(kOriginalSuffix), current)) {
      logger(kDidNotKeepOriginal, hosts_path);
    }
    outcome.backup_written = current_read && WriteBackup(*target, backup, current);
    std::string().swap(current);
    if (!outcome.backup_written) {
      // An older backup still in place is one that could not be replaced.
      if (platform::FileExists(backup)) {
        logger(kCouldNotKill, backup);
      } else {
        logger(kDidNotBackup, hosts_path);
      }
    }
    const Placement placement = PlaceContent(*target, bytes, hosts_path, logger);
    placed = placement == Placement::kPlaced;
    switch (placement) {
      case Placement::kPlaced:
        outcome.result = Result::kInstalled;
        break;
      case Placement::kNotDisplaced:
        logger(kCouldNotKill, hosts_path);
        outcome.result = Result::kNotInstalled;
        break;
      case Placement::kNotWritten:
        logger(kCouldNotCopy, hosts_path);
        outcome.result = Result::kNotInstalled;
        break;
      case Placement::kDamaged:
        logger(kMayBeDamaged, hosts_path);
        outcome.result = Result::kDamaged;
        break;
    }
  } catch (const std::bad_alloc&) {
    if (!placed) logger(kCouldNotCopy, hosts_path);
    outcome.result = placed ? Result::kInstalled : Result::kNotInstalled;
  }
  return outcome;
}

bool RecoverInterruptedInstall(const std::string& hosts_path, const support::LogTarget& log) {
  const auto target = platform::ResolvePath(hosts_path);
  if (!target) return false;
  const std::string note_path = NotePath(*target);
  // What killed writers left: the new hosts file, the backup, the original and the note.
  platform::RemoveStaleReplacements(*target);
  platform::RemoveStaleReplacements(hosts_path + std::string(kBackupSuffix));
  platform::RemoveStaleReplacements(hosts_path + std::string(kOriginalSuffix));
  platform::RemoveStaleReplacements(note_path);
  std::string note;
  const platform::ReadStatus read = ReadOwn(note_path, note);
  if (read == platform::ReadStatus::kMissing || read == platform::ReadStatus::kUnsafePath) {
    return false;
  }
  const auto marks = read == platform::ReadStatus::kOk ? ParseNote(note) : std::nullopt;
  HostUpdateOutcome outcome;
  Logger logger(log, outcome);
  if (!marks) {
    // It can restore nothing: said, and removed, so that it is not read again at every start.
    logger(kBadMarksNote, note_path);
    (void)platform::RemoveEntry(note_path);
    return false;
  }
  if (!Restore(*target, *marks, false, hosts_path, logger)) return false;
  logger(kRecoveredInstall, hosts_path);
  (void)platform::RemoveEntry(note_path);
  return true;
}

std::unique_ptr<platform::InstanceLock> LockAndRecover(const std::string& hosts_path,
                                                       const support::LogTarget& log,
                                                       const LockPolicy& policy) {
  auto lock = platform::LockInstalls(hosts_path, policy.wait_ms, policy.folder);
  if (!lock) {
    HostUpdateOutcome outcome;
    Logger logger(log, outcome);
    logger(kCouldNotLock, hosts_path);
    return nullptr;
  }
  (void)RecoverInterruptedInstall(hosts_path, log);
  return lock;
}

bool RestoreBackup(const std::string& hosts_path, const support::LogTarget& log) {
  HostUpdateOutcome outcome;
  Logger logger(log, outcome);
  const std::string backup = hosts_path + std::string(kBackupSuffix);
  const auto target = platform::ResolvePath(hosts_path);
  std::string saved;
  std::string current;
  if (!target || !platform::FileExists(hosts_path) ||
      ReadOwn(backup, saved) != platform::ReadStatus::kOk || !IsInstallable(saved)) {
    logger(kCouldNotFind, backup);
    return false;
  }
  if (ReadOwn(*target, current) != platform::ReadStatus::kOk) {
    logger(kCouldNotFind, hosts_path);
    return false;
  }
  try {
    switch (PlaceContent(*target, saved, hosts_path, logger)) {
      case Placement::kPlaced:
        break;
      case Placement::kNotDisplaced:
        logger(kCouldNotKill, hosts_path);
        return false;
      case Placement::kNotWritten:
        logger(kCouldNotCopy, hosts_path);
        return false;
      case Placement::kDamaged:
        logger(kMayBeDamaged, hosts_path);
        return false;
    }
    // The replaced file becomes the backup only now that the restore has taken effect.
    const auto file = platform::CreateReplacementFile(backup, *target);
    if (!file || !file->Write(current) || file->Commit() != CommitResult::kReplaced) {
      logger(kDidNotBackup, hosts_path);
    }
  } catch (const std::bad_alloc&) {
    logger(kCouldNotCopy, hosts_path);
    return false;
  }
  return true;
}

RestoreOriginalResult RestoreOriginal(const std::string& hosts_path,
                                      const support::LogTarget& log) {
  const std::string original = hosts_path + std::string(kOriginalSuffix);
  std::string bytes;
  if (ReadOwn(original, bytes) != platform::ReadStatus::kOk || bytes.empty()) {
    HostUpdateOutcome outcome;
    Logger logger(log, outcome);
    logger(kCouldNotFind, original);
    return RestoreOriginalResult::kFailed;
  }
  // Installing it again would only make the original the backup as well.
  std::string current;
  if (support::ReadWholeFile(hosts_path, current) == platform::ReadStatus::kOk &&
      current == bytes) {
    return RestoreOriginalResult::kAlreadyInPlace;
  }
  return InstallHostsBytes(bytes, hosts_path, log).result == Result::kInstalled
             ? RestoreOriginalResult::kRestored
             : RestoreOriginalResult::kFailed;
}

}  // namespace vellomar::install
