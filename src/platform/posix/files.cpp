// Files on POSIX systems: the existence test, protective marks, private scripts.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

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
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CanReadFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

bool ReadFileInto(const std::string& path, std::string& out) {
  // Non-blocking, so that a pipe put in the file's place cannot hold the open up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    out.clear();
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0;
  const std::size_t length = ok ? static_cast<std::size_t>(st.st_size) : 0;
  // The old bytes are of no use: growing past the capacity should not copy them, and within
  // the capacity only the bytes past the old size are filled before the read overwrites them.
  if (length > out.capacity()) out.clear();
  out.resize(length);
  ok = ok && ReadExactly(fd, out.data(), length);
  // One byte more would mean the file grew since its length was taken.
  char probe;
  ok = ok && ReadSome(fd, &probe, 1) == 0;
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    if (FileExists(candidate)) return candidate;
  }
  return {};
}

std::vector<std::string> HostsCandidates() { return {"/etc/hosts"}; }

std::vector<std::string> NotepadCandidates() {
  return {"/usr/bin/gnome-text-editor", "/usr/bin/gedit", "/usr/bin/kate", "/usr/bin/kwrite",
          "/usr/bin/mousepad",          "/usr/bin/pluma", "/usr/bin/xed",  "/usr/bin/featherpad",
          "/usr/bin/xdg-open"};
}

std::vector<std::string> IpconfigCandidates() { return {"/usr/bin/resolvectl", "/bin/resolvectl"}; }

std::optional<Protection> SetAttributesNormal(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  Protection removed;
  if (const auto flags = InodeFlags(fd); flags && (*flags & kProtectiveFlags) != 0) {
    if (SetInodeFlags(fd, *flags & ~kProtectiveFlags)) removed.flags = *flags & kProtectiveFlags;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
    removed.added_owner_write = ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR) == 0;
  }
  ::close(fd);
  return removed;
}

bool RestoreProtection(const std::string& path, const Protection& removed) {
  if (removed.flags == 0) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const auto flags = InodeFlags(fd);
  const bool ok = flags && SetInodeFlags(fd, *flags | removed.flags);
  ::close(fd);
  return ok;
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return false;
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  struct stat st {};
  return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool CreatePrivateScript(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (fd < 0) return false;
  // The mode given to open is narrowed by the umask; make sure the owner can run it.
  bool ok = ::fchmod(fd, 0700) == 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace vellomar::platform
