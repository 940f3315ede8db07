// Replacing the hosts file. Nothing is deleted before its successor is complete on disk: the
// backup and the new hosts file are each written beside their target and renamed over it, and
// a hosts file that cannot be renamed over is rewritten in place with its old bytes kept for
// putting back. So the system never goes without a whole hosts file.
//
// The marks that keep the hosts file from being written are off only between the commit's
// rename (or rewrite) and their restoring; while they are off, a small note beside the hosts
// file says which they were, so that RecoverInterruptedInstall can put them back after a kill.
#include "install/host_update.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

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

// The open file at `path`, as ReadOwn reads it; `status` is kOk exactly when it is open.
platform::InputFile OpenOwn(const std::string& path, platform::ReadStatus& status) {
  support::ReadOptions options;
  options.links = platform::Links::kRefuse;
  options.visible_only = false;
  return support::OpenForReading(path, options, status);
}

// The new content, a block at a time.
class Content {
 public:
  virtual ~Content() = default;
  // The next block, empty at the end; nullopt, with status() saying why, when the content
  // cannot be read through as it was when opened.
  virtual std::optional<std::string_view> Next() = 0;
  // The whole content, for a rewrite in place; nullopt as for Next.
  virtual std::optional<std::string_view> Whole() = 0;
  platform::ReadStatus status() const { return status_; }

 protected:
  platform::ReadStatus status_ = platform::ReadStatus::kOk;
};

// Bytes in memory: one block.
class BytesContent final : public Content {
 public:
  explicit BytesContent(std::string_view bytes) : bytes_(bytes) {}
  std::optional<std::string_view> Next() override {
    return std::exchange(given_, true) ? std::string_view() : bytes_;
  }
  std::optional<std::string_view> Whole() override { return bytes_; }

 private:
  std::string_view bytes_;
  bool given_ = false;
};

// An open file, read through a buffer of the caller's.
class FileContent final : public Content {
 public:
  FileContent(platform::InputFile& file, support::BlockBuffer& buffer)
      : file_(file), buffer_(buffer) {}
  std::optional<std::string_view> Next() override {
    const auto got = support::ReadBlock(file_, buffer_.data(), buffer_.size());
    if (!got) return Failed(platform::ReadStatus::kUnreadable);
    total_ += *got;
    // More than its length at the open, or less once it ends: it changed while read.
    if (total_ > file_.Facts().size || (*got == 0 && total_ != file_.Facts().size)) {
      return Failed(platform::ReadStatus::kChanged);
    }
    return std::string_view(buffer_.data(), *got);
  }
  std::optional<std::string_view> Whole() override {
    if (!whole_read_) {
      if (!file_.Rewind()) return Failed(platform::ReadStatus::kUnreadable);
      status_ = file_.ReadAll(whole_);
      if (status_ != platform::ReadStatus::kOk) return std::nullopt;
      whole_read_ = true;
    }
    return std::string_view(whole_);
  }

 private:
  std::nullopt_t Failed(platform::ReadStatus why) {
    status_ = why;
    return std::nullopt;
  }

  platform::InputFile& file_;
  support::BlockBuffer& buffer_;
  std::uint64_t total_ = 0;
  std::string whole_;
  bool whole_read_ = false;
};

// The new content written beside the hosts file, not yet flushed.
struct Staged {
  std::unique_ptr<platform::ReplacementFile> file;        // none: the folder takes no new file
  bool write_failed = false;                              // the file was dropped to free its space
  platform::ReadStatus read = platform::ReadStatus::kOk;  // kOk: the content is a hosts file
};

platform::ReadStatus NotInstallable(std::string_view whole) {
  return whole.empty()                            ? platform::ReadStatus::kMissing
         : whole.size() > platform::kMaxFileBytes ? platform::ReadStatus::kTooLarge
                                                  : platform::ReadStatus::kNotText;
}

// Writes `content` into a new file beside `target`, checking it on the way: a content that is
// no hosts file leaves nothing behind.
Staged Stage(const std::string& target, Content& content, const InstallWatch& watch) {
  Staged staged;
  platform::RemoveStaleReplacements(target);
  // Created before the marks are cleared, so that it takes the mode the user gave the file.
  staged.file = platform::CreateReplacementFile(target, target);
  if (!staged.file) {  // to be rewritten in place: the content is needed whole
    const auto whole = content.Whole();
    if (!whole) {
      staged.read = content.status();
    } else if (!IsInstallable(*whole)) {
      staged.read = NotInstallable(*whole);
    } else if (watch.new_bytes) {
      watch.new_bytes(*whole);
    }
    return staged;
  }
  std::uint64_t total = 0;
  while (true) {
    const auto block = content.Next();
    if (!block) {
      staged.read = content.status();
      break;
    }
    if (block->empty()) break;
    if (std::memchr(block->data(), '\0', block->size()) != nullptr) {
      staged.read = platform::ReadStatus::kNotText;
      break;
    }
    total += block->size();
    if (watch.new_bytes) watch.new_bytes(*block);
    // Read on after a failed write: the content is judged whole either way.
    if (!staged.write_failed && !staged.file->Write(*block)) staged.write_failed = true;
  }
  if (staged.read == platform::ReadStatus::kOk && total == 0) {
    staged.read = platform::ReadStatus::kMissing;
  }
  if (staged.read != platform::ReadStatus::kOk || staged.write_failed) staged.file.reset();
  return staged;
}

// Whether the start marker, which only the program writes, is in a text given in blocks.
class MarkerSearch {
 public:
  void Add(std::string_view block) {
    if (found_) return;
    // The marker may begin in the bytes kept from the blocks before.
    const std::size_t reach = merge::kStartMarker.size() - 1;
    const std::string joint = tail_ + std::string(block.substr(0, reach));
    found_ = support::Contains(joint, merge::kStartMarker) ||
             support::Contains(block, merge::kStartMarker);
    tail_ = block.size() >= reach ? std::string(block.substr(block.size() - reach))
                                  : joint.substr(joint.size() - std::min(joint.size(), reach));
  }
  bool found() const { return found_; }

 private:
  std::string tail_;
  bool found_ = false;
};

// Copies the hosts file, read once through `buffer`, to the backup, and to the original when
// the program did not write it (no start marker in it) and nothing is at the original's name
// yet: the first original kept is never replaced. Each replaces what was there only once
// complete, and takes the owner, group and mode of the hosts file. Logs what did not take
// effect; true when the backup was written.
bool BackUp(const std::string& target, const std::string& hosts_path, support::BlockBuffer& buffer,
            const InstallWatch& watch, Logger& log) {
  const std::string backup = hosts_path + std::string(kBackupSuffix);
  const std::string original = hosts_path + std::string(kOriginalSuffix);
  bool backup_written = false;
  platform::ReadStatus status;
  platform::InputFile current = OpenOwn(target, status);
  if (status == platform::ReadStatus::kOk) {
    platform::RemoveStaleReplacements(backup);
    auto backup_file = platform::CreateReplacementFile(backup, target);
    // What is at the original's name, looked at once a block without the marker is read:
    // kept before, or something of the user's, whatever it is (a dangling link included).
    std::optional<platform::ReadStatus> there;
    std::unique_ptr<platform::ReplacementFile> original_file;
    const auto look_at_original = [&] {
      if (there) return;
      platform::ReadStatus seen;
      (void)OpenOwn(original, seen);  // opened only to see what is there
      there = seen;
      if (seen != platform::ReadStatus::kMissing) return;
      platform::RemoveStaleReplacements(original);
      original_file = platform::CreateReplacementFile(original, target);
    };
    MarkerSearch marker;
    std::uint64_t total = 0;
    bool read = true;
    while (read) {
      const auto got = support::ReadBlock(current, buffer.data(), buffer.size());
      if (!got || (total += *got) > current.Facts().size) {
        read = false;
        break;
      }
      if (*got == 0) break;
      const std::string_view block(buffer.data(), *got);
      if (watch.old_bytes) watch.old_bytes(block);
      marker.Add(block);
      if (marker.found()) {
        original_file.reset();
      } else {
        look_at_original();
        if (original_file) (void)original_file->Write(block);  // judged at its commit
      }
      if (backup_file) (void)backup_file->Write(block);
    }
    if (read && total == current.Facts().size) {
      if (!marker.found()) {
        look_at_original();
        const bool kept = *there == platform::ReadStatus::kMissing
                              ? original_file && original_file->Commit() == CommitResult::kReplaced
                              : *there != platform::ReadStatus::kUnsafePath;
        if (!kept) log(kDidNotKeepOriginal, hosts_path);
      }
      backup_written = backup_file && backup_file->Commit() == CommitResult::kReplaced;
    }
  }
  if (!backup_written) {
    // An older backup still in place is one that could not be replaced.
    if (platform::FileExists(backup)) {
      log(kCouldNotKill, backup);
    } else {
      log(kDidNotBackup, hosts_path);
    }
  }
  return backup_written;
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

Placement PlaceContent(const std::string& target, Staged staged, Content& content,
                       const std::string& hosts_path, Logger& log) {
  const std::string note_path = NotePath(target);
  auto& file = staged.file;
  // Flushed to disk before the marks are cleared, so that they are off for as short a time as
  // can be.
  if (staged.write_failed || (file && !file->Sync())) return Placement::kNotWritten;
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
  if (rewrite_in_place) {
    const auto whole = content.Whole();
    placement = whole && IsInstallable(*whole)
                    ? FromInPlace(platform::RewriteInPlace(target, *whole))
                    : Placement::kNotWritten;
  }

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

namespace {

HostUpdateOutcome InstallContent(Content& content, support::BlockBuffer& buffer,
                                 const std::string& hosts_path, const support::LogTarget& log,
                                 const InstallWatch& watch) {
  HostUpdateOutcome outcome;
  Logger logger(log, outcome);
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
    Staged staged = Stage(*target, content, watch);
    if (staged.read != platform::ReadStatus::kOk) {
      outcome.result = Result::kNotRead;
      outcome.read_status = staged.read;
      return outcome;
    }
    outcome.backup_written = BackUp(*target, hosts_path, buffer, watch, logger);
    const Placement placement =
        PlaceContent(*target, std::move(staged), content, hosts_path, logger);
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

}  // namespace

HostUpdateOutcome InstallHostsBytes(std::string_view bytes, const std::string& hosts_path,
                                    const support::LogTarget& log) {
  if (!IsInstallable(bytes)) {
    HostUpdateOutcome outcome;
    outcome.result = Result::kNotRead;
    outcome.read_status = NotInstallable(bytes);
    if (outcome.read_status == platform::ReadStatus::kNotText) {
      Logger(log, outcome)(kNotAHostsFile, hosts_path);
    }
    return outcome;
  }
  BytesContent content(bytes);
  try {
    support::BlockBuffer buffer(kCopyBlock);
    return InstallContent(content, buffer, hosts_path, log, {});
  } catch (const std::bad_alloc&) {
    HostUpdateOutcome outcome;
    Logger(log, outcome)(kCouldNotCopy, hosts_path);
    outcome.result = Result::kNotInstalled;
    return outcome;
  }
}

HostUpdateOutcome InstallHostsFile(platform::InputFile& file, const std::string& hosts_path,
                                   const support::LogTarget& log, const InstallWatch& watch) {
  HostUpdateOutcome outcome;
  if (!file.IsOpen() || file.Facts().size == 0) {
    outcome.result = Result::kNotRead;
    outcome.read_status = platform::ReadStatus::kMissing;
    return outcome;
  }
  try {
    support::BlockBuffer buffer(std::max<std::size_t>(watch.block, 1));
    FileContent content(file, buffer);
    return InstallContent(content, buffer, hosts_path, log, watch);
  } catch (const std::bad_alloc&) {
    Logger(log, outcome)(kCouldNotCopy, hosts_path);
    outcome.result = Result::kNotInstalled;
    return outcome;
  }
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
    BytesContent content(saved);
    switch (PlaceContent(*target, Stage(*target, content, {}), content, hosts_path, logger)) {
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
