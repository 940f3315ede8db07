#pragma once
// Reaching a path one folder at a time from "/", for a program that may run as root while other
// users plant links and swap folders. Every file function of the POSIX layer reaches its folder
// this way and then works on that folder's descriptor (openat, renameat, unlinkat...), so that
// what is checked on the way is what is used.

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/platform.h"

namespace vellomar::platform::posix {

// A descriptor, closed when destroyed.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Whether the folders on the way are judged.
enum class Rule {
  kAsRoot,     // only when the program runs as root
  kAlways,     // always
  kRootOwned,  // always, and every folder must belong to root: for what runs as root
  kLinksOnly,  // never; only where links are followed (to ask a question, not to act)
};

// Where a path leads: its folder, opened (O_PATH) for the *at calls, and the last name in it.
struct Place {
  Fd folder;
  std::string name;         // no '/'; "." when the path names a folder itself ("/", "a/..")
  std::string folder_path;  // the folder as reached, every link resolved
  std::string Path() const;
};

// The rule for a folder: it belongs to root or to the effective user, and neither group nor
// others may write in it unless its sticky bit keeps them from replacing what is not theirs.
bool FolderIsTrusted(const struct stat& folder);

// Walks `path` (a relative one from the current folder) from "/", one name at a time, never
// letting the system resolve a link. A link is followed here, at most 40 of them, only when it
// lies in a folder that passes the rule and belongs to root or to the effective user: a link
// someone else could plant is never followed. When the program runs as root (or with
// Rule::kAlways), every folder on the way must pass the rule. With `follow_last` a link at the
// last name is followed as well. kSafe with `place` set; a missing last name is no error.
FolderSafety Locate(const std::string& path, bool follow_last, Place& place,
                    Rule rule = Rule::kAsRoot);

// The folder at `path`, reached as Locate reaches it (a link at its name followed), opened for
// reading its entries; invalid, with `safety` saying why, when it cannot be.
Fd OpenFolder(const std::string& path, FolderSafety& safety, Rule rule = Rule::kAsRoot);

// Opens `path` (reached as Locate reaches it) with `flags`, to which O_NOFOLLOW and O_CLOEXEC
// are added; -1 with errno set when it cannot be, EACCES for a path the walk refused.
Fd OpenAt(const std::string& path, bool follow_last, int flags, mode_t mode = 0);

// ---- Programs ------------------------------------------------------------------------------

// Opens the program at `path` (an absolute path, reached as Locate reaches it) for running it by
// its descriptor: a regular file with an execute bit; for a program running as root, also one
// that belongs to root and that neither group nor others may write. Invalid, with errno set
// (ENOENT when there is none, EACCES when it is refused), otherwise.
Fd OpenProgram(const std::string& path);

// In a child process: runs the program `program` holds (OpenProgram) with `argv`, so that what
// was checked is what runs. Returns only when that failed, with errno set.
void ExecProgram(int program, char* const argv[]);

}  // namespace vellomar::platform::posix
