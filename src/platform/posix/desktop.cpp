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

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

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

// What is wrong with a folder, for the user.
std::string Problem(const std::string& folder, FolderSafety safety) {
  switch (safety) {
    case FolderSafety::kSafe:
      return {};
    case FolderSafety::kOpenToOthers:
    case FolderSafety::kForeignOwner:
    case FolderSafety::kUntrustedLink:
      return "Other users can change " + folder + ": nothing is written there as root";
    case FolderSafety::kMissing:
      break;
  }
  return "Could not create the data folder " + folder + ": " + std::strerror(errno) +
         " - nothing is written";
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

}  // namespace

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
  if (!is_installed && CanWriteIn(program_folder)) return {program_folder, {}};

  ProgramFolderChoice choice;
  if (data_home.empty()) {
    choice.folder = program_folder;
    choice.problem = "No home folder: nothing is written (" + program_folder + " is read-only)";
    return choice;
  }
  choice.folder = JoinPath(data_home, "vellomar");
  // Made, and then filled, only through folders that passed the rule: a data home that others
  // control or reach through a planted link is refused before anything is created in it.
  errno = 0;
  const FolderSafety made = MakeFolders(choice.folder, 0700);
  if (made != FolderSafety::kSafe) {
    choice.problem = Problem(choice.folder, made);
    return choice;
  }
  const std::string sources = JoinPath(choice.folder, "Hostfiles");
  posix::Place place;
  struct stat st {};
  if (posix::Locate(sources, false, place) != FolderSafety::kSafe ||
      ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
      errno != ENOENT) {
    return choice;  // the user's own, whatever it is
  }
  const std::string samples = is_installed ? installed : JoinPath(program_folder, "Hostfiles");
  if (FolderExists(samples) && !CopySamples(samples, sources)) {
    choice.problem = "Could not copy the sample sources to " + sources;
  }
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

InputRunResult RunWithInput(const std::vector<std::string>& argv, std::string_view input,
                            int timeout_ms) {
  InputRunResult result;
  if (argv.empty()) return result;
  const posix::Fd program = posix::OpenProgram(argv[0]);
  if (!program.valid()) return result;
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // A socket rather than a pipe for the input: a send with MSG_NOSIGNAL to a child that has
  // ended fails with EPIPE instead of killing this program with SIGPIPE.
  int feed[2];
  int errors[2];
  int report[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, feed) != 0) return result;
  if (::pipe2(errors, O_CLOEXEC) != 0) {
    ::close(feed[0]);
    ::close(feed[1]);
    return result;
  }
  if (::pipe2(report, O_CLOEXEC) != 0) {
    for (const int fd : {feed[0], feed[1], errors[0], errors[1]}) ::close(fd);
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(feed[1], STDIN_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    ::dup2(errors[1], STDERR_FILENO);
    posix::ExecProgram(program.get(), args.data());
    const int err = errno;
    [[maybe_unused]] const auto written = ::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(feed[1]);
  ::close(errors[1]);
  ::close(report[1]);
  if (child < 0) {
    for (const int fd : {feed[0], errors[0], report[0]}) ::close(fd);
    return result;
  }
  int err = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  result.started = got == 0;

  ::fcntl(feed[0], F_SETFL, ::fcntl(feed[0], F_GETFL) | O_NONBLOCK);
  std::size_t sent = 0;
  int feed_fd = feed[0];
  if (input.empty()) {
    ::shutdown(feed_fd, SHUT_WR);
  }
  const long long deadline = NowMs() + timeout_ms;
  char buffer[4096];
  bool errors_open = true;
  while (errors_open) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      result.timed_out = true;
      ::kill(child, SIGKILL);
      break;
    }
    pollfd wait_for[2] = {{errors[0], POLLIN, 0}, {feed_fd, POLLOUT, 0}};
    const bool feeding = feed_fd >= 0 && sent < input.size();
    const int ready = ::poll(wait_for, feeding ? 2 : 1, static_cast<int>(std::min(left, 1000LL)));
    if (ready < 0 && errno != EINTR) break;
    if (feeding && (wait_for[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = ::send(feed_fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) sent = input.size();  // it stopped reading
      if (sent == input.size()) ::shutdown(feed_fd, SHUT_WR);
    }
    if (wait_for[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(errors[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        errors_open = false;
      } else {
        const std::size_t room =
            kMaxErrorOutput - std::min(kMaxErrorOutput, result.error_output.size());
        result.error_output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
      }
    }
  }
  ::close(feed[0]);
  ::close(errors[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

InputRunResult Launcher::RunPrivileged(const std::vector<std::string>& argv,
                                       std::string_view input) {
  return RunWithInput(argv, input, kPrivilegedWaitMs);
}

ReadStatus ReadStandardInput(std::string& out, std::size_t max) {
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

}  // namespace vellomar::platform
