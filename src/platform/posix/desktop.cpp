// The user's data folder, the host name and the administrator's install through polkit, on
// POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/path_walk.h"

namespace vellomar::platform {
namespace {

// An administrator's password dialog may wait for the user a long time; not for ever.
constexpr int kPrivilegedWaitMs = 10 * 60 * 1000;

bool OwnedByMe(const std::string& folder) {
  const auto facts = FolderFacts(folder);
  return facts && facts->owner == ::geteuid();
}

// Creates `folder` and the folders above it that are missing, each of mode `mode`, each made
// through the descriptor of the folder above it once that folder passed the walk's rule. kSafe
// when a folder is there at the end; otherwise why not.
FolderSafety MakeFolders(const std::string& folder, mode_t mode) {
  FolderSafety safety;
  if (posix::OpenFolder(folder, safety).valid()) return FolderSafety::kSafe;
  if (safety != FolderSafety::kMissing) return safety;
  const auto slash = folder.find_last_of('/');
  if (slash == std::string::npos || slash + 1 == folder.size()) return FolderSafety::kMissing;
  if (slash > 0) {
    const FolderSafety above = MakeFolders(folder.substr(0, slash), 0700);
    if (above != FolderSafety::kSafe) return above;
  }
  posix::Place place;
  safety = posix::Locate(folder, false, place);
  if (safety != FolderSafety::kSafe) return safety;
  if (::mkdirat(place.folder.get(), place.name.c_str(), mode) != 0 && errno != EEXIST) {
    return FolderSafety::kMissing;
  }
  return posix::OpenFolder(folder, safety).valid() ? FolderSafety::kSafe : safety;
}

// Copies the visible regular files of `from` into the new folder `to`. False when `to` could
// not be created or a file could not be copied; `to` then holds what was copied.
bool CopySamples(const std::string& from, const std::string& to) {
  const auto names = ListFolder(from);
  if (!names || MakeFolders(to, 0755) != FolderSafety::kSafe) return false;
  bool ok = true;
  std::string bytes;
  for (const std::string& name : *names) {
    if (name.empty() || name[0] == '.') continue;
    if (ReadFileWhole(JoinPath(from, name), bytes) != ReadStatus::kOk) continue;
    const auto file = CreateReplacementFile(JoinPath(to, name));
    ok = file && file->Write(bytes) && file->Commit() == ReplacementFile::CommitResult::kReplaced &&
         ok;
  }
  return ok;
}

// Whether this user may create files in `folder`. Whether root should is the session's call,
// which says so rather than go elsewhere.
bool CanWriteIn(const std::string& folder) {
  FolderSafety safety;
  const posix::Fd fd = posix::OpenFolder(folder, safety, posix::Rule::kLinksOnly);
  return fd.valid() && ::faccessat(fd.get(), ".", W_OK, AT_EACCESS) == 0;
}

// Seeds a missing Hostfiles folder in choice.folder with the samples of the programs in
// `program_folder` (the installed ones, or those beside it); an existing one is the user's,
// whatever it is, and is never touched.
void SeedSamples(ProgramFolderChoice& choice, const std::string& program_folder,
                 bool is_installed) {
  const std::string sources = JoinPath(choice.folder, "Hostfiles");
  posix::Place place;
  struct stat st {};
  if (posix::Locate(sources, false, place) != FolderSafety::kSafe ||
      ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
      errno != ENOENT) {
    return;
  }
  const std::string samples = is_installed ? JoinPath(program_folder, kInstalledSamples)
                                           : JoinPath(program_folder, "Hostfiles");
  if (!FolderExists(samples)) return;
  if (CopySamples(samples, sources)) {
    choice.seeded = true;
  } else {
    choice.problem = FolderProblem::kSamplesNotCopied;
    choice.problem_folder = sources;
  }
}

}  // namespace

std::string SystemFolder() { return "/var/lib/vellomar"; }

ProgramFolderChoice ChooseSystemFolder(const std::string& folder,
                                       const std::string& program_folder) {
  ProgramFolderChoice choice;
  choice.folder = folder;
  FolderSafety safety;
  const bool exists = posix::OpenFolder(folder, safety).valid();
  if (!exists && safety != FolderSafety::kMissing) {
    choice.problem = FolderProblem::kUnsafe;
    choice.problem_folder = folder;
    return choice;
  }
  if (!exists) {
    errno = EACCES;
    const FolderSafety made = ::geteuid() == 0 ? MakeFolders(folder, 0755) : FolderSafety::kMissing;
    if (made != FolderSafety::kSafe) {
      choice.problem =
          made == FolderSafety::kMissing ? FolderProblem::kCannotCreate : FolderProblem::kUnsafe;
      choice.problem_folder = folder;
      choice.reason = std::strerror(errno);
      return choice;
    }
  }
  SeedSamples(choice, program_folder, FolderExists(JoinPath(program_folder, kInstalledSamples)));
  return choice;
}

std::string UserDataHome() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/' && OwnedByMe(home)) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    return std::string(home) + "/.local/share";
  }
  // Started with another user's HOME (sudo keeps it on some systems): that user's files are
  // not this program's to create.
  const passwd* user = ::getpwuid(::geteuid());
  if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/') return {};
  return std::string(user->pw_dir) + "/.local/share";
}

ProgramFolderChoice ChooseProgramFolder(const std::string& program_folder,
                                        const std::string& data_home) {
  const std::string installed = JoinPath(program_folder, kInstalledSamples);
  const bool is_installed = FolderExists(installed);
  ProgramFolderChoice choice;
  choice.folder = program_folder;
  if (!is_installed && CanWriteIn(program_folder)) return choice;
  if (data_home.empty()) {
    choice.problem = FolderProblem::kNoHome;
    choice.problem_folder = program_folder;
    return choice;
  }
  choice.folder = JoinPath(data_home, "vellomar");
  // Made, and then filled, only through folders that passed the rule: a data home that others
  // control or reach through a planted link is refused before anything is created in it.
  errno = 0;
  const FolderSafety made = MakeFolders(choice.folder, 0700);
  if (made != FolderSafety::kSafe) {
    choice.problem_folder = choice.folder;
    if (made == FolderSafety::kMissing) {
      choice.problem = FolderProblem::kCannotCreate;
      choice.reason = std::strerror(errno);
    } else {
      choice.problem = FolderProblem::kUnsafe;
    }
    return choice;
  }
  SeedSamples(choice, program_folder, is_installed);
  return choice;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::vector<std::string> PrivilegedInstallCommand(const std::string& helper_path,
                                                  const std::string& action_file,
                                                  const std::string& pkexec) {
  const auto resolved = ResolvePath(helper_path);
  if (!resolved || !FileExists(action_file)) return {};
  const std::string& helper = *resolved;
  // pkexec runs the helper as root: a helper, or a folder above it, that anyone but root could
  // change would be theirs to run as root. pkexec itself must be root's too.
  for (const std::string& program : {pkexec, helper}) {
    const auto slash = program.find_last_of('/');
    FolderSafety safety;
    if (slash == std::string::npos ||
        !posix::OpenFolder(slash == 0 ? "/" : program.substr(0, slash), safety,
                           posix::Rule::kRootOwned)
             .valid()) {
      return {};
    }
    posix::Place place;
    struct stat st {};
    if (posix::Locate(program, false, place, posix::Rule::kRootOwned) != FolderSafety::kSafe ||
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != 0 || (st.st_mode & 022) != 0 ||
        (st.st_mode & 0111) == 0) {
      return {};
    }
  }
  return {pkexec, helper};
}

RunResult Launcher::RunPrivileged(const std::vector<std::string>& argv, std::string_view input) {
  RunOptions options;
  options.timeout_ms = kPrivilegedWaitMs;
  options.input = input;
  options.collect_errors = true;
  return RunAndWait(argv, options);
}

std::string InstallHelperPath(const std::string& program_folder) {
  return JoinPath(program_folder, kInstalledHelper);
}

namespace {

// The bytes on standard input, the log lines on standard error.
class StandardChannel final : public HelperChannel {
 public:
  ReadStatus ReadInput(std::string& out, std::size_t max) override {
    out.clear();
    char buffer[65536];
    while (true) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ReadStatus::kUnreadable;
      if (n == 0) return ReadStatus::kOk;
      if (static_cast<std::size_t>(n) > max - out.size()) return ReadStatus::kTooLarge;
      out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  bool WriteLine(std::string_view text) override {
    return std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data()) >= 0;
  }
};

}  // namespace

std::unique_ptr<HelperChannel> OpenHelperChannel(const std::vector<std::string>& arguments) {
  if (!arguments.empty()) return nullptr;
  return std::make_unique<StandardChannel>();
}

std::string_view HelperUsage() {
  return "vellomar-install-helper takes no arguments; it reads the hosts file to install from its "
         "standard input";
}

}  // namespace vellomar::platform
