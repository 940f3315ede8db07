// Rewriting a file in place on POSIX systems, for files that cannot be renamed over.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/posix/path_walk.h"

namespace vellomar::platform {
namespace {

// Writes `bytes` at `offset`; returns how many bytes reached the file, which is all of them
// only on success.
std::size_t WriteAt(int fd, std::string_view bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// Reads exactly `length` bytes from the start of the file; nullopt on a failed or short read.
std::optional<std::string> ReadFromStart(int fd, std::size_t length) {
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

bool HoldsExactly(int fd, std::string_view bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) != bytes.size()) return false;
  const auto read_back = ReadFromStart(fd, bytes.size());
  return read_back && *read_back == bytes;
}

// Cuts the file to `length` if it is longer. Truncating only when needed keeps a file system
// that refuses to truncate from spoiling a write that needed none.
bool CutTo(int fd, std::size_t length) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return static_cast<std::size_t>(st.st_size) <= length ||
         ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

// Every step is tried even when one before it failed: each byte put back is one less wrong.
InPlaceResult PutBack(int fd, const std::string& old_bytes) {
  bool ok = WriteAt(fd, old_bytes, 0) == old_bytes.size();
  ok = CutTo(fd, old_bytes.size()) && ok;
  ok = ::fsync(fd) == 0 && ok;
  ok = HoldsExactly(fd, old_bytes) && ok;
  return ok ? InPlaceResult::kKeptOld : InPlaceResult::kDamaged;
}

InPlaceResult Rewrite(int fd, std::string_view bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return InPlaceResult::kNotOpened;
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) return InPlaceResult::kKeptOld;
  const auto old_bytes = ReadFromStart(fd, static_cast<std::size_t>(st.st_size));
  if (!old_bytes) return InPlaceResult::kKeptOld;

  // Reserve the blocks without changing the visible length, so that a full disk shows up
  // here, before anything is overwritten. File systems without the call are written as is.
  if (!bytes.empty()) {
    int reserved = -1;
    do {
      reserved = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size()));
    } while (reserved != 0 && errno == EINTR);
    if (reserved != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return InPlaceResult::kKeptOld;
  }

  const std::size_t written = WriteAt(fd, bytes, 0);
  if (written == 0 && !bytes.empty()) return InPlaceResult::kKeptOld;  // nothing overwritten
  if (written != bytes.size() || !CutTo(fd, bytes.size()) || ::fsync(fd) != 0 ||
      !HoldsExactly(fd, bytes)) {
    return PutBack(fd, *old_bytes);
  }
  return InPlaceResult::kRewritten;
}

}  // namespace

InPlaceResult RewriteInPlace(const std::string& path, std::string_view bytes) {
  // O_NONBLOCK keeps a fifo swapped in at the path from blocking the open; Rewrite refuses it.
  const posix::Fd fd = posix::OpenAt(path, false, O_RDWR | O_NONBLOCK);
  if (!fd.valid()) return InPlaceResult::kNotOpened;
  return Rewrite(fd.get(), bytes);
}

bool RestoreOwnerWrite(const std::string& path, const Protection& removed) {
  if (!removed.added_owner_write) return true;
  const posix::Fd fd = posix::OpenAt(path, false, O_RDONLY | O_NONBLOCK);
  if (!fd.valid()) return false;
  struct stat st {};
  return ::fstat(fd.get(), &st) == 0 && ::fchmod(fd.get(), (st.st_mode & 07777) & ~S_IWUSR) == 0;
}

}  // namespace vellomar::platform
