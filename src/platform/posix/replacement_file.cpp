// Replacing a file through a temporary file in the same folder on POSIX systems. The folder is
// reached once and kept open: the temporary file is made, renamed and flushed through that one
// descriptor, so a folder swapped on the way afterwards changes nothing.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/path_walk.h"

namespace vellomar::platform {
namespace {

using posix::Fd;

// The hidden name stem of the temporary files for a target named `name`; the writer's process
// id, "-" and a random number follow it.
std::string TempStem(const std::string& name) { return "." + name + ".new-"; }

// The writer's process id when `name` is exactly a temporary name of `stem`'s, else 0.
long WriterOf(std::string_view name, std::string_view stem) {
  if (name.substr(0, stem.size()) != stem) return 0;
  const std::string_view rest = name.substr(stem.size());
  const auto dash = rest.find('-');
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 10 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dash == std::string_view::npos || !digits(rest.substr(0, dash)) ||
      !digits(rest.substr(dash + 1))) {
    return 0;
  }
  return std::strtol(std::string(rest.substr(0, dash)).c_str(), nullptr, 10);
}

// How much is written before its writeback is started.
constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;

mode_t DefaultMode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

class PosixReplacementFile final : public ReplacementFile {
 public:
  PosixReplacementFile(Fd folder, std::string name, std::string temp, Fd file)
      : folder_(std::move(folder)),
        name_(std::move(name)),
        temp_(std::move(temp)),
        file_(std::move(file)) {}

  ~PosixReplacementFile() override {
    file_.Reset();
    if (!committed_) ::unlinkat(folder_.get(), temp_.c_str(), 0);
  }
  PosixReplacementFile(const PosixReplacementFile&) = delete;
  PosixReplacementFile& operator=(const PosixReplacementFile&) = delete;

  bool Write(std::string_view bytes) override {
    while (ok_ && !bytes.empty()) {
      const ssize_t n = ::write(file_.get(), bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok_ = false;
        break;
      }
      synced_ = false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
      written_ += static_cast<std::uint64_t>(n);
    }
    StartWriteback();
    return ok_;
  }

  bool Truncate(std::uint64_t size) override {
    if (ok_ && (::ftruncate(file_.get(), static_cast<off_t>(size)) != 0 ||
                ::lseek(file_.get(), static_cast<off_t>(size), SEEK_SET) < 0)) {
      ok_ = false;
    }
    synced_ = false;
    written_ = size;
    if (writeback_from_ > size) writeback_from_ = size;
    return ok_;
  }

  bool Sync() override {
    if (!file_.valid()) return false;
    if (ok_ && !synced_) {
      ok_ = ::fsync(file_.get()) == 0;
      synced_ = ok_;
    }
    return ok_;
  }

  CommitResult Commit() override {
    if (!file_.valid()) return CommitResult::kWriteFailed;
    Sync();
    if (::close(file_.Release()) != 0) ok_ = false;
    if (!ok_) return CommitResult::kWriteFailed;
    if (::renameat(folder_.get(), temp_.c_str(), folder_.get(), name_.c_str()) != 0) {
      return (errno == EBUSY || errno == EXDEV) ? CommitResult::kTargetBusy
                                                : CommitResult::kRenameFailed;
    }
    committed_ = true;
    // The rename is on disk once the folder is.
    const Fd readable(::openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.valid()) ::fsync(readable.get());
    return CommitResult::kReplaced;
  }

 private:
  Fd folder_;
  std::string name_;
  std::string temp_;
  Fd file_;
  bool ok_ = true;
  bool synced_ = false;
  bool committed_ = false;
  std::uint64_t written_ = 0;         // the file's size as written so far
  std::uint64_t writeback_from_ = 0;  // where the bytes not yet sent to the disk begin

  // Sends what was written so far to the disk while the writer goes on, a step at a time, so
  // that the final flush waits for the last step only and not for the whole file. A hint: the
  // flush in Sync is what makes the file durable, and a system without it loses nothing.
  void StartWriteback() {
#ifdef SYNC_FILE_RANGE_WRITE
    if (!ok_ || written_ - writeback_from_ < kWritebackStep) return;
    ::sync_file_range(file_.get(), static_cast<off_t>(writeback_from_),
                      static_cast<off_t>(written_ - writeback_from_), SYNC_FILE_RANGE_WRITE);
    writeback_from_ = written_;
#endif
  }
};

}  // namespace

std::unique_ptr<ReplacementFile> CreateReplacementFile(const std::string& target,
                                                       const std::string& like) {
  posix::Place place;
  if (posix::Locate(target, false, place) != FolderSafety::kSafe || place.name == ".") {
    return nullptr;
  }
  // The owner and mode to give the new file, taken from the open file `like` names.
  struct stat model {};
  bool has_model = false;
  if (!like.empty()) {
    const Fd like_fd = posix::OpenAt(like, false, O_RDONLY | O_NONBLOCK);
    has_model = like_fd.valid() && ::fstat(like_fd.get(), &model) == 0;
  }
  // Hidden, so that a listing of the folder never shows a half-written file.
  const std::string stem = TempStem(place.name) + std::to_string(::getpid()) + "-";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string temp = stem + std::to_string(random() % 1000000000u);
    Fd fd(::openat(place.folder.get(), temp.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    bool ok;
    if (has_model) {
      // Owner first: changing the owner may clear set-id bits that the mode then restores. A
      // file that cannot take them would change who may write the target: refuse it.
      ok = ::fchown(fd.get(), model.st_uid, model.st_gid) == 0 &&
           ::fchmod(fd.get(), model.st_mode & 07777) == 0;
    } else {
      ok = ::fchmod(fd.get(), DefaultMode()) == 0;
    }
    if (!ok) {
      fd.Reset();
      ::unlinkat(place.folder.get(), temp.c_str(), 0);
      return nullptr;
    }
    return std::make_unique<PosixReplacementFile>(std::move(place.folder), place.name, temp,
                                                  std::move(fd));
  }
  return nullptr;
}

int RemoveStaleReplacements(const std::string& target) {
  posix::Place place;
  if (posix::Locate(target, false, place) != FolderSafety::kSafe || place.name == ".") return 0;
  const std::string stem = TempStem(place.name);
  Fd readable(::openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = readable.valid() ? ::fdopendir(readable.get()) : nullptr;
  if (dir == nullptr) return 0;
  const int dir_fd = readable.Release();
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    // Only what this program's writers name their files, written by a process that is gone
    // and by this user: anything else in the folder is someone else's business.
    const long pid = WriterOf(entry->d_name, stem);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;
    }
    if (::unlinkat(dir_fd, entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace vellomar::platform
