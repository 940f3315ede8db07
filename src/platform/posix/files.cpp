// Files on POSIX systems: the existence test, protective marks, private scripts.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

constexpr std::uint32_t kProtectiveFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

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
