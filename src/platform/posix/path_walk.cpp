#include "platform/posix/path_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string_view>
#include <vector>

namespace vellomar::platform::posix {
namespace {

// As many as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// Puts the names of `path` in front of `todo`, in order; empty names and "." are dropped.
void PushNames(std::string_view path, std::deque<std::string>& todo) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view name = path.substr(start, slash - start);
    if (!name.empty() && name != ".") names.emplace_back(name);
    start = slash + 1;
  }
  todo.insert(todo.begin(), names.begin(), names.end());
}

struct Level {
  Fd fd;
  std::string name;
  bool trusted = false;
};

FolderSafety Judge(const struct stat& st, Rule rule) {
  const uid_t me = rule == Rule::kRootOwned ? 0 : ::geteuid();
  if (st.st_uid != 0 && st.st_uid != me) return FolderSafety::kForeignOwner;
  const bool closed = (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX);
  return closed ? FolderSafety::kSafe : FolderSafety::kOpenToOthers;
}

bool IsStrict(Rule rule) {
  return rule == Rule::kAlways || rule == Rule::kRootOwned ||
         (rule == Rule::kAsRoot && ::geteuid() == 0);
}

// Opens `fd` as a level of the walk; kSafe unless the rule applies and the folder fails it.
FolderSafety Enter(Fd fd, std::string name, Rule rule, std::vector<Level>& stack) {
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return FolderSafety::kMissing;
  if (!S_ISDIR(st.st_mode)) return FolderSafety::kMissing;
  const FolderSafety judged = Judge(st, rule);
  if (IsStrict(rule) && judged != FolderSafety::kSafe) return judged;
  stack.push_back({std::move(fd), std::move(name), FolderIsTrusted(st)});
  return FolderSafety::kSafe;
}

std::string FolderPathOf(const std::vector<Level>& stack) {
  std::string path;
  for (std::size_t i = 1; i < stack.size(); ++i) path += "/" + stack[i].name;
  return path.empty() ? "/" : path;
}

}  // namespace

std::string Place::Path() const {
  if (name == ".") return folder_path;
  return folder_path == "/" ? "/" + name : folder_path + "/" + name;
}

bool FolderIsTrusted(const struct stat& folder) {
  const bool owned = folder.st_uid == 0 || folder.st_uid == ::geteuid();
  const bool closed = (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (folder.st_mode & S_ISVTX);
  return owned && closed;
}

FolderSafety Locate(const std::string& path, bool follow_last, Place& place, Rule rule) {
  if (path.empty()) return FolderSafety::kMissing;
  const uid_t me = ::geteuid();
  std::deque<std::string> todo;
  PushNames(path, todo);
  if (path.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return FolderSafety::kMissing;
    PushNames(cwd, todo);
  }
  std::vector<Level> stack;
  FolderSafety safety = Enter(Fd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, rule, stack);
  if (safety != FolderSafety::kSafe) return safety;
  int links = 0;
  while (!todo.empty()) {
    std::string name = std::move(todo.front());
    todo.pop_front();
    if (name == "..") {
      if (stack.size() > 1) stack.pop_back();
      continue;
    }
    const bool last = todo.empty();
    Fd fd(::openat(stack.back().fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.valid() && ::fstat(fd.get(), &st) != 0) return FolderSafety::kMissing;
    if (fd.valid() && S_ISLNK(st.st_mode) && (!last || follow_last)) {
      // Only a link that nobody but root or this user could have put there is followed.
      if (!stack.back().trusted || (st.st_uid != 0 && st.st_uid != me)) {
        return FolderSafety::kUntrustedLink;
      }
      char target[PATH_MAX];
      const ssize_t length = ::readlinkat(fd.get(), "", target, sizeof target);
      if (++links > kMaxLinks || length <= 0 || length >= static_cast<ssize_t>(sizeof target)) {
        return FolderSafety::kMissing;
      }
      const std::string_view text(target, static_cast<std::size_t>(length));
      PushNames(text, todo);
      if (text.front() == '/') stack.resize(1);
      continue;
    }
    if (last) {
      // The last name needs not exist (a file about to be made), may be of any kind, and may be
      // out of reach: the caller's own open says why.
      place.folder = std::move(stack.back().fd);
      place.name = std::move(name);
      place.folder_path = FolderPathOf(stack);
      return FolderSafety::kSafe;
    }
    safety = Enter(std::move(fd), std::move(name), rule, stack);
    if (safety != FolderSafety::kSafe) return safety;
  }
  // The path names a folder itself.
  place.folder_path = FolderPathOf(stack);
  place.folder = std::move(stack.back().fd);
  place.name.assign(1, '.');  // GCC 12 warns wrongly on = "."
  return FolderSafety::kSafe;
}

Fd OpenFolder(const std::string& path, FolderSafety& safety, Rule rule) {
  Place place;
  safety = Locate(path, true, place, rule);
  if (safety != FolderSafety::kSafe) return {};
  Fd fd(::openat(place.folder.get(), place.name.c_str(),
                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    safety = FolderSafety::kMissing;
    return {};
  }
  // A folder reached at its last name is judged as the folders above it were.
  struct stat st {};
  if (place.name != "." && IsStrict(rule) && ::fstat(fd.get(), &st) == 0) {
    safety = Judge(st, rule);
    if (safety != FolderSafety::kSafe) return {};
  }
  return fd;
}

Fd OpenAt(const std::string& path, bool follow_last, int flags, mode_t mode) {
  Place place;
  if (Locate(path, follow_last, place) != FolderSafety::kSafe) {
    errno = EACCES;
    return {};
  }
  return Fd(::openat(place.folder.get(), place.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

Fd OpenProgram(const std::string& path) {
  if (path.empty() || path.front() != '/') {
    errno = ENOENT;
    return {};
  }
  posix::Place place;
  const FolderSafety reached = Locate(path, true, place);
  if (reached != FolderSafety::kSafe) {
    errno = reached == FolderSafety::kMissing ? ENOENT : EACCES;
    return {};
  }
  Fd fd(::openat(place.folder.get(), place.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return {};
  const bool runnable = S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
  // Root runs only what nobody else could have changed.
  const bool trusted = ::geteuid() != 0 || (st.st_uid == 0 && (st.st_mode & 022) == 0);
  if (!runnable || !trusted) {
    errno = EACCES;
    return {};
  }
  return fd;
}

void ExecProgram(int program, char* const argv[]) {
  // A script is read again by its interpreter through /dev/fd: the descriptor must outlive the
  // exec, in this child only.
  ::fcntl(program, F_SETFD, 0);
  ::execveat(program, "", argv, environ, AT_EMPTY_PATH);
}

}  // namespace vellomar::platform::posix
