// Replacing the hosts file. Nothing is deleted before its successor is complete on disk: the
// backup and the new hosts file are each written beside their target and renamed over it, and
// a hosts file that cannot be renamed over is rewritten in place with its old bytes kept for
// putting back. So the system never goes without a whole hosts file.
#include "install/host_update.h"

#include <memory>

#include "platform/platform.h"
#include "support/file_reader.h"

namespace vellomar::install {
namespace {

using CommitResult = platform::ReplacementFile::CommitResult;

// How the new content fared; each failure has its own log line.
enum class Placement {
  kPlaced,        // the hosts file holds the new content
  kNotDisplaced,  // the old hosts file could be neither renamed over nor opened for writing
  kNotWritten,    // writing the new content failed; the hosts file keeps its old content
};

// Puts a copy of the current hosts file at `backup`, replacing an older backup only once the
// new one is complete. The backup takes the owner, group and mode of the hosts file.
bool WriteBackup(const std::string& hosts_path, const std::string& backup) {
  std::string bytes;
  if (!support::ReadWholeFileInto(hosts_path, bytes)) return false;
  const auto file = platform::CreateReplacementFile(backup, hosts_path);
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
    case platform::InPlaceResult::kDamaged:
      break;
  }
  return Placement::kNotWritten;
}

Placement PlaceContent(const std::string& hosts_path, const std::string& bytes) {
  // Created before the marks are cleared, so that it takes the mode the user gave the file.
  auto file = platform::CreateReplacementFile(hosts_path, hosts_path);
  if (file) file->Write(bytes);
  const platform::Protection removed =
      platform::SetAttributesNormal(hosts_path).value_or(platform::Protection{});

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
  if (rewrite_in_place) placement = FromInPlace(platform::RewriteInPlace(hosts_path, bytes));

  // A renamed file was created with the old mode; a file kept in place got the owner write
  // bit for the write and loses it again. The marks go on last: an immutable file's mode is
  // fixed.
  if (!renamed) platform::RestoreOwnerWrite(hosts_path, removed);
  platform::RestoreProtection(hosts_path, removed);
  return placement;
}

}  // namespace

void DoHostUpdate(const std::string& this_file, const std::string& hosts_path,
                  const support::LogTarget& log) {
  if (!platform::FileExists(this_file)) return;
  // The system never creates a hosts file where there was none.
  if (!platform::FileExists(hosts_path)) return;

  // Read once, so that exactly these bytes are written whatever happens to the file later;
  // read before the backup is written, so that installing the backup itself swaps the two.
  // An empty file cannot be told from an unreadable one and is never installed.
  const std::string bytes = support::ReadWholeFile(this_file);

  const std::string backup = hosts_path + std::string(kBackupSuffix);
  if (!WriteBackup(hosts_path, backup)) {
    // An older backup still in place is one that could not be replaced.
    support::WriteLog(log, platform::FileExists(backup) ? "Could not Kill " + backup
                                                        : "Did not backup " + hosts_path);
  }

  if (bytes.empty()) {
    support::WriteLog(log, "Could not Find " + this_file);
    return;
  }

  switch (PlaceContent(hosts_path, bytes)) {
    case Placement::kPlaced:
      break;
    case Placement::kNotDisplaced:
      support::WriteLog(log, "Could not Kill " + hosts_path);
      break;
    case Placement::kNotWritten:
      support::WriteLog(log, "Could not Copy to " + hosts_path);
      break;
  }
}

bool RestoreBackup(const std::string& hosts_path, const support::LogTarget& log) {
  const std::string backup = hosts_path + std::string(kBackupSuffix);
  std::string saved;
  std::string current;
  if (!platform::FileExists(hosts_path) || !support::ReadWholeFileInto(backup, saved) ||
      saved.empty()) {
    support::WriteLog(log, "Could not Find " + backup);
    return false;
  }
  if (!support::ReadWholeFileInto(hosts_path, current)) {
    support::WriteLog(log, "Could not Find " + hosts_path);
    return false;
  }
  switch (PlaceContent(hosts_path, saved)) {
    case Placement::kPlaced:
      break;
    case Placement::kNotDisplaced:
      support::WriteLog(log, "Could not Kill " + hosts_path);
      return false;
    case Placement::kNotWritten:
      support::WriteLog(log, "Could not Copy to " + hosts_path);
      return false;
  }
  // The replaced file becomes the backup only now that the restore has taken effect.
  const auto file = platform::CreateReplacementFile(backup, hosts_path);
  if (!file || !file->Write(current) || file->Commit() != CommitResult::kReplaced) {
    support::WriteLog(log, "Did not backup " + hosts_path);
  }
  return true;
}

}  // namespace vellomar::install
