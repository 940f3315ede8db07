// Files on POSIX systems: the existence test, protective marks, private scripts.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/path_walk.h"

namespace vellomar::platform {
namespace {

using posix::Fd;

constexpr std::uint32_t kProtectiveFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;
constexpr std::size_t kPage = 4096;

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads the inode flags; nullopt where the file system keeps none (tmpfs, overlay...).
std::optional<unsigned int> InodeFlags(int fd) {
  unsigned int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
  return flags;
}

bool SetInodeFlags(int fd, unsigned int flags) { return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0; }

// One read, repeated when a signal interrupts it: the byte count, 0 at the end of the file, or
// -1 on an error.
ssize_t ReadSome(int fd, char* to, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, to, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// The page offset of the distance from `from` to `to`.
std::size_t PageSkew(const char* to, const char* from) {
  return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(to) -
                                  reinterpret_cast<std::uintptr_t>(from)) %
         kPage;
}

// Copies out of the page cache and memcpy both use a string move instruction that, on some
// processors, runs several times slower when the destination lies 1 to 31 bytes past the
// source within a page (about six times on an AMD EPYC). malloc puts large blocks 16 bytes
// into a page, which is just that distance from the page-aligned start of a file in the page
// cache.
bool IsSlowCopy(std::size_t skew) { return skew != 0 && skew < 32; }

// Reads exactly `size` bytes from the start of the file; false when the file ends first or a
// read fails. A destination at a slow distance from the file's pages gets the bytes through a
// staging buffer placed at a fast distance from both.
bool ReadExactly(int fd, char* to, std::size_t size) {
  constexpr std::size_t kStaging = std::size_t{64} << 10;  // a whole number of pages
  std::unique_ptr<char, decltype(&std::free)> block(nullptr, &std::free);
  char* staging = nullptr;
  if (size > kStaging && IsSlowCopy(PageSkew(to, nullptr))) {
    block.reset(static_cast<char*>(std::aligned_alloc(kPage, kStaging + kPage)));
    if (block) {
      // 64 bytes or more before `to` within the page: a fast distance for the memcpy, and a
      // multiple of 64 from the page start for the reads, which start at page boundaries.
      const std::size_t to_offset = PageSkew(to, nullptr) & ~std::size_t{63};
      staging = block.get() + (to_offset + kPage - 64) % kPage;
    }
  }
  std::size_t done = 0;
  while (done < size) {
    const std::size_t want = staging ? std::min(kStaging, size - done) : size - done;
    const ssize_t n = ReadSome(fd, staging ? staging : to + done, want);
    if (n <= 0) return false;  // an error, or the file got shorter
    if (staging) std::memcpy(to + done, staging, static_cast<std::size_t>(n));
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

OsFamily NativeOsFamily() { return OsFamily::kPosix; }

char PathSeparator() { return '/'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + '/' + name;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const std::string base = BaseName(path);
  if (base.empty() || base.front() == '.') return false;
  posix::Place place;
  if (posix::Locate(path, false, place) != FolderSafety::kSafe) return false;
  // A link at the name counts by what it names: whether it may be read is the reader's call.
  struct stat st {};
  return ::fstatat(place.folder.get(), place.name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  FolderSafety safety;
  return !path.empty() && posix::OpenFolder(path, safety).valid();
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), facts_(other.facts_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = std::exchange(other.handle_, -1);
    facts_ = other.facts_;
  }
  return *this;
}

InputFile InputFile::Open(const std::string& path, Links links, ReadStatus& status) {
  InputFile file;
  posix::Place place;
  const FolderSafety reached =
      path.empty() ? FolderSafety::kMissing : posix::Locate(path, links == Links::kFollow, place);
  if (reached != FolderSafety::kSafe) {
    status = reached == FolderSafety::kMissing ? ReadStatus::kMissing : ReadStatus::kUnsafePath;
    return file;
  }
  // Non-blocking, so that a pipe put in the file's place cannot hold the open up; the checks
  // below are made on what was opened, so a swap of the path afterwards changes nothing.
  const int fd = ::openat(place.folder.get(), place.name.c_str(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      status = ReadStatus::kMissing;
    } else if (errno == ELOOP || errno == ENXIO || errno == EISDIR) {
      status = ReadStatus::kNotRegular;  // a refused link; a socket
    } else {
      status = ReadStatus::kUnreadable;
    }
    return file;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    status = ReadStatus::kUnreadable;
    return file;
  }
  if (!S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    status = ReadStatus::kNotRegular;
    return file;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
    ::close(fd);
    status = ReadStatus::kTooLarge;
    return file;
  }
  file.handle_ = fd;
  file.facts_ = {static_cast<std::uint64_t>(st.st_size), st.st_uid, st.st_gid,
                 static_cast<std::uint32_t>(st.st_mode & 07777)};
  status = ReadStatus::kOk;
  return file;
}

std::int64_t InputFile::Read(char* into, std::size_t size) {
  if (handle_ < 0) return -1;
  return ReadSome(static_cast<int>(handle_), into, size);
}

bool InputFile::Rewind() {
  return handle_ >= 0 && ::lseek(static_cast<int>(handle_), 0, SEEK_SET) == 0;
}

ReadStatus InputFile::ReadAll(std::string& out) {
  if (handle_ < 0) {
    out.clear();
    return ReadStatus::kUnreadable;
  }
  const int fd = static_cast<int>(handle_);
  const auto length = static_cast<std::size_t>(facts_.size);
  try {
    // The old bytes are of no use: growing past the capacity should not copy them, and within
    // the capacity only the bytes past the old size are filled before the read overwrites them.
    if (length > out.capacity()) out.clear();
    out.resize(length);
  } catch (const std::bad_alloc&) {
    std::string().swap(out);
    return ReadStatus::kTooLarge;
  }
  ReadStatus status = ReadStatus::kOk;
  errno = 0;
  if (!ReadExactly(fd, out.data(), length)) {
    status = errno == 0 ? ReadStatus::kChanged : ReadStatus::kUnreadable;  // shorter, or EIO
  } else {
    // One byte more would mean the file grew since its length was taken.
    char probe;
    const ssize_t extra = ReadSome(fd, &probe, 1);
    if (extra != 0) status = extra > 0 ? ReadStatus::kChanged : ReadStatus::kUnreadable;
  }
  if (status != ReadStatus::kOk) out.clear();
  return status;
}

std::optional<std::vector<std::string>> ListFolder(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  FolderSafety safety;
  Fd fd = posix::OpenFolder(folder, safety);
  if (!fd.valid()) return std::nullopt;
  DIR* dir = ::fdopendir(fd.get());
  if (dir == nullptr) return std::nullopt;
  fd.Release();  // the listing owns it now
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
    errno = 0;
  }
  const bool complete = errno == 0;
  ::closedir(dir);
  if (!complete) return std::nullopt;
  return names;
}

std::optional<std::string> ResolvePath(const std::string& path) {
  posix::Place place;
  if (path.empty() || posix::Locate(path, true, place) != FolderSafety::kSafe) return std::nullopt;
  struct stat st {};
  if (::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return place.Path();
}

std::optional<FileFacts> FolderFacts(const std::string& path) {
  FolderSafety safety;
  const Fd fd = posix::OpenFolder(path, safety);
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  return FileFacts{static_cast<std::uint64_t>(st.st_size), st.st_uid, st.st_gid,
                   static_cast<std::uint32_t>(st.st_mode & 07777)};
}

std::uint32_t EffectiveUser() { return ::geteuid(); }

FolderSafety CheckFolderSafety(const std::string& path) {
  FolderSafety safety;
  return posix::OpenFolder(path, safety, posix::Rule::kAlways).valid() ? FolderSafety::kSafe
                                                                       : safety;
}

FolderSafety CheckPathSafety(const std::string& path) {
  posix::Place place;
  const FolderSafety reached = posix::Locate(path, true, place);
  struct stat st {};
  if (reached != FolderSafety::kSafe ||
      ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(st.st_mode)) {
    return reached;
  }
  // A folder at the end is judged as the folders on the way were.
  FolderSafety safety;
  return posix::OpenFolder(path, safety).valid() ? FolderSafety::kSafe : safety;
}

std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    if (FileExists(candidate)) return candidate;
  }
  return {};
}

std::vector<std::string> HostsCandidates() { return {"/etc/hosts"}; }

std::vector<std::string> EditorCandidates() {
  return {"/usr/bin/gnome-text-editor", "/usr/bin/gedit", "/usr/bin/kate", "/usr/bin/kwrite",
          "/usr/bin/mousepad",          "/usr/bin/pluma", "/usr/bin/xed",  "/usr/bin/featherpad",
          "/usr/bin/xdg-open"};
}

std::vector<std::string> ResolverToolCandidates() {
  return {"/usr/bin/resolvectl", "/bin/resolvectl"};
}

namespace {

// The file at `path` itself (a link at its name is not followed), opened without blocking for
// its flags and mode.
Fd OpenForMarks(const std::string& path) {
  return posix::OpenAt(path, false, O_RDONLY | O_NONBLOCK);
}

}  // namespace

std::optional<Protection> ProtectionOf(const std::string& path) {
  const Fd fd = OpenForMarks(path);
  if (!fd.valid()) return std::nullopt;
  Protection marks;
  if (const auto flags = InodeFlags(fd.get())) marks.flags = *flags & kProtectiveFlags;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  marks.added_owner_write = (st.st_mode & S_IWUSR) == 0;
  return marks;
}

std::optional<Protection> SetAttributesNormal(const std::string& path) {
  const Fd fd = OpenForMarks(path);
  if (!fd.valid()) return std::nullopt;
  Protection removed;
  if (const auto flags = InodeFlags(fd.get()); flags && (*flags & kProtectiveFlags) != 0) {
    if (SetInodeFlags(fd.get(), *flags & ~kProtectiveFlags)) {
      removed.flags = *flags & kProtectiveFlags;
    }
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
    removed.added_owner_write = ::fchmod(fd.get(), (st.st_mode & 07777) | S_IWUSR) == 0;
  }
  return removed;
}

bool IsRestorableProtection(const Protection& marks) {
  return (marks.flags & ~kProtectiveFlags) == 0;
}

bool RestoreProtection(const std::string& path, const Protection& removed) {
  // Only the marks this program clears are ever set again, whatever a caller hands in.
  const std::uint32_t flags = removed.flags & kProtectiveFlags;
  if (flags == 0) return true;
  const Fd fd = OpenForMarks(path);
  if (!fd.valid()) return false;
  const auto current = InodeFlags(fd.get());
  return current && SetInodeFlags(fd.get(), *current | flags);
}

bool AppendToLog(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const Fd fd = posix::OpenAt(path, false, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, 0666);
  if (!fd.valid()) return false;
  struct stat st {};
  bool ok = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  return ok;
}

RemoveResult RemoveEntry(const std::string& path) {
  posix::Place place;
  if (path.empty() || posix::Locate(path, false, place) != FolderSafety::kSafe) {
    return RemoveResult::kFailed;
  }
  if (::unlinkat(place.folder.get(), place.name.c_str(), 0) == 0) return RemoveResult::kRemoved;
  return errno == ENOENT ? RemoveResult::kAbsent : RemoveResult::kFailed;
}

namespace {

class PosixOwnFile final : public OwnFile {
 public:
  explicit PosixOwnFile(int fd) : fd_(fd) {}
  ~PosixOwnFile() override { ::close(fd_); }
  PosixOwnFile(const PosixOwnFile&) = delete;
  PosixOwnFile& operator=(const PosixOwnFile&) = delete;

  bool Append(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  ReadStatus ReadAll(std::string& out) override {
    out.clear();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return ReadStatus::kUnreadable;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) return ReadStatus::kTooLarge;
    try {
      out.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      std::string().swap(out);
      return ReadStatus::kTooLarge;
    }
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        out.clear();
        return n == 0 ? ReadStatus::kChanged : ReadStatus::kUnreadable;
      }
      done += static_cast<std::size_t>(n);
    }
    return ReadStatus::kOk;
  }

  std::intptr_t NativeHandle() const override { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<OwnFile> CreateOwnFile(const std::string& path) {
  Fd fd = posix::OpenAt(path, false, O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0600);
  if (!fd.valid()) return nullptr;
  return std::make_unique<PosixOwnFile>(fd.Release());
}

}  // namespace vellomar::platform
