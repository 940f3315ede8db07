// Replacing a file through a temporary file in the same folder on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The hidden name stem of the temporary files for `target`; the writer's process id and a
// random number follow it.
std::string TempStem(const std::string& target) { return "." + BaseNameOf(target) + ".new-"; }

mode_t DefaultMode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class PosixReplacementFile final : public ReplacementFile {
 public:
  PosixReplacementFile(std::string target, std::string temp, int fd)
      : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

  ~PosixReplacementFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
  }
  PosixReplacementFile(const PosixReplacementFile&) = delete;
  PosixReplacementFile& operator=(const PosixReplacementFile&) = delete;

  bool Write(std::string_view bytes) override {
    while (ok_ && !bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok_ = false;
        break;
      }
      synced_ = false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return ok_;
  }

  bool Sync() override {
    if (fd_ < 0) return false;
    if (ok_ && !synced_) {
      ok_ = ::fsync(fd_) == 0;
      synced_ = ok_;
    }
    return ok_;
  }

  CommitResult Commit() override {
    if (fd_ < 0) return CommitResult::kWriteFailed;
    Sync();
    if (::close(fd_) != 0) ok_ = false;
    fd_ = -1;
    if (!ok_) return CommitResult::kWriteFailed;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      return (errno == EBUSY || errno == EXDEV) ? CommitResult::kTargetBusy
                                                : CommitResult::kRenameFailed;
    }
    committed_ = true;
    SyncFolder(FolderOf(target_));
    return CommitResult::kReplaced;
  }

 private:
  std::string target_;
  std::string temp_;
  int fd_;
  bool ok_ = true;
  bool synced_ = false;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<ReplacementFile> CreateReplacementFile(const std::string& target,
                                                       const std::string& like) {
  const std::string folder = FolderOf(target);
  // Hidden, so that a listing of the folder never shows a half-written file.
  const std::string stem = folder + "/" + TempStem(target) + std::to_string(::getpid()) + "-";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string temp = stem + std::to_string(random() % 1000000000u);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    struct stat st {};
    bool ok;
    if (!like.empty() && ::stat(like.c_str(), &st) == 0) {
      // Owner first: changing the owner may clear set-id bits that the mode then restores. A
      // file that cannot take them would change who may write the target: refuse it.
      ok = ::fchown(fd, st.st_uid, st.st_gid) == 0 && ::fchmod(fd, st.st_mode & 07777) == 0;
    } else {
      ok = ::fchmod(fd, DefaultMode()) == 0;
    }
    if (!ok) {
      ::close(fd);
      ::unlink(temp.c_str());
      return nullptr;
    }
    return std::make_unique<PosixReplacementFile>(target, temp, fd);
  }
  return nullptr;
}

int RemoveStaleReplacements(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string stem = TempStem(target);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  const int dir_fd = ::dirfd(dir);
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, stem.size()) != stem) continue;
    // The writer's process id; a name without one is of an older version, whose writer is gone.
    const std::string rest(name.substr(stem.size()));
    char* end = nullptr;
    const long pid = std::strtol(rest.c_str(), &end, 10);
    const bool writer_gone = end == rest.c_str() || *end != '-' || pid <= 0 ||
                             (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
    if (!writer_gone || pid == ::getpid()) continue;
    struct stat st {};
    // Only files: a folder of that name is not a leftover of this program.
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
      continue;
    }
    if (::unlinkat(dir_fd, entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace vellomar::platform
