// Program identity, process start, rights and the single-instance lock on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/path_walk.h"

namespace vellomar::platform {
namespace {

// The child's side of the exec report: the error of a failed exec goes down the pipe, which
// otherwise closes unread when the exec succeeds (it is close-on-exec).
[[noreturn]] void ReportExecFailure(int report_fd, int err) {
  [[maybe_unused]] const auto written = ::write(report_fd, &err, sizeof err);
  ::_exit(127);
}

// The parent's side: nullopt when the exec succeeded, else its error. Closes the pipe.
std::optional<int> ExecError(int report_fd) {
  int err = 0;
  ssize_t got;
  do {
    got = ::read(report_fd, &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  ::close(report_fd);
  if (got == 0) return std::nullopt;
  return err;
}

// Finds a program without a folder in the system's own program folders, never through PATH
// or the current folder: the program may run as root, and a folder early in someone's PATH
// could hold a program of the same name. Empty when not found.
std::string ResolveProgram(const std::string& program) {
  if (program.empty() || program.find('/') != std::string::npos) return program;
  for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    std::string candidate = std::string(folder) + "/" + program;
    if (posix::OpenProgram(candidate).valid()) return candidate;
  }
  return {};
}

// The argument vector for exec: pointers into `argv`, which must outlive it.
std::vector<char*> ArgumentVector(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return args;
}

// Starts a program detached from this process (double fork, so no child is left to reap).
// Returns false when the program could not be started.
bool SpawnDetached(const std::vector<std::string>& argv, const std::string& working_folder) {
  if (argv.empty()) return false;
  const posix::Fd program = posix::OpenProgram(ResolveProgram(argv[0]));
  if (!program.valid()) return false;
  std::vector<char*> args = ArgumentVector(argv);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    int err = 0;
    if (!working_folder.empty() && ::chdir(working_folder.c_str()) != 0) err = errno;
    if (err == 0) {
      posix::ExecProgram(program.get(), args.data());
      err = errno;
    }
    ReportExecFailure(report[1], err);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && !ExecError(report[0]);
}

class SystemLauncher final : public Launcher {
 public:
  bool Start(const std::vector<std::string>& argv, WindowStyle /*style*/,
             const std::string& working_folder) override {
    // X11 and Wayland leave window placement to the window manager: the style is a hint only.
    return SpawnDetached(argv, working_folder);
  }
  bool ShellOpen(const std::string& target) override {
    return SpawnDetached({"xdg-open", target}, {});
  }
};

class FileLock final : public InstanceLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// FNV-1a, stable from run to run, so every instance of one program file finds the same lock.
std::uint64_t StableHash(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

std::string ProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ProgramName() {
  const std::string path = ProgramPath();
  std::string name = path.substr(path.find_last_of('/') + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::unique_ptr<Launcher> CreateSystemLauncher() { return std::make_unique<SystemLauncher>(); }

namespace {

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

RunResult RunAndWait(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty()) return result;
  const posix::Fd program = posix::OpenProgram(argv[0]);
  if (!program.valid()) return result;
  std::vector<char*> args = ArgumentVector(argv);

  // The child's ends first, then ours. A socket rather than a pipe for the input: a send with
  // MSG_NOSIGNAL to a child that has ended fails with EPIPE instead of raising SIGPIPE here.
  int feed[2] = {-1, -1};
  int output[2] = {-1, -1};
  int errors[2] = {-1, -1};
  int report[2] = {-1, -1};
  const auto close_all = [&] {
    for (int* pair : {feed, output, errors, report}) {
      for (int i = 0; i < 2; ++i) {
        if (pair[i] >= 0) ::close(pair[i]);
        pair[i] = -1;
      }
    }
  };
  if ((options.input && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, feed) != 0) ||
      (options.collect_output && ::pipe2(output, O_CLOEXEC) != 0) ||
      (options.collect_errors && ::pipe2(errors, O_CLOEXEC) != 0) ||
      ::pipe2(report, O_CLOEXEC) != 0) {
    close_all();
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const int null_in = ::open("/dev/null", O_RDONLY);
    const int null_out = ::open("/dev/null", O_WRONLY);
    ::dup2(options.input ? feed[1] : null_in, STDIN_FILENO);
    ::dup2(options.collect_output ? output[1] : null_out, STDOUT_FILENO);
    if (options.collect_errors) ::dup2(errors[1], STDERR_FILENO);
    posix::ExecProgram(program.get(), args.data());
    ReportExecFailure(report[1], errno);
  }
  for (int* pair : {feed, output, errors, report}) {
    if (pair[1] >= 0) ::close(pair[1]);
    pair[1] = -1;
  }
  if (child < 0) {
    close_all();
    return result;
  }
  result.started = !ExecError(report[0]);
  report[0] = -1;  // closed by ExecError

  const std::string_view input = options.input.value_or(std::string_view());
  std::size_t sent = 0;
  if (feed[0] >= 0) {
    ::fcntl(feed[0], F_SETFL, ::fcntl(feed[0], F_GETFL) | O_NONBLOCK);
    if (input.empty()) ::shutdown(feed[0], SHUT_WR);
  }
  const long long deadline = NowMs() + options.timeout_ms;
  const auto keep = [](std::string& into, const char* bytes, ssize_t n, std::size_t max) {
    const std::size_t room = max - std::min(max, into.size());
    into.append(bytes, std::min(room, static_cast<std::size_t>(n)));
  };
  char buffer[65536];
  while (output[0] >= 0 || errors[0] >= 0) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      result.timed_out = true;
      break;
    }
    pollfd wait_for[3];
    int count = 0;
    for (const int fd : {output[0], errors[0]}) {
      if (fd >= 0) wait_for[count++] = {fd, POLLIN, 0};
    }
    const bool feeding = feed[0] >= 0 && sent < input.size();
    if (feeding) wait_for[count++] = {feed[0], POLLOUT, 0};
    const int ready = ::poll(wait_for, static_cast<nfds_t>(count), static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (int k = 0; k < count; ++k) {
      if (wait_for[k].revents == 0) continue;
      const int fd = wait_for[k].fd;
      if (fd == feed[0]) {
        const ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR) sent = input.size();  // it stopped reading
        if (sent == input.size()) ::shutdown(fd, SHUT_WR);
        continue;
      }
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        ::close(fd);
        (fd == output[0] ? output[0] : errors[0]) = -1;
      } else if (fd == output[0]) {
        keep(result.output, buffer, n, options.max_output);
      } else {
        keep(result.error_output, buffer, n, kMaxErrorOutput);
      }
    }
  }
  close_all();
  // A child that outlived its time is killed; one that closed its output early is waited for
  // until the deadline, then killed too.
  if (result.timed_out) ::kill(child, SIGKILL);
  int status = 0;
  while (true) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) break;
    if (done == 0) {
      if (!result.timed_out && NowMs() >= deadline) {
        result.timed_out = true;
        ::kill(child, SIGKILL);
      }
      ::usleep(10000);
    }
  }
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

bool IsUserAnAdmin() { return ::geteuid() == 0; }

namespace {

// True when `folder` (not followed if a link) is a folder of the effective user that nobody
// else may write in; `why` says what is wrong otherwise.
bool IsPrivateFolder(const std::string& folder, std::string& why) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    why = folder + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    why = folder + " is not a folder";
  } else if (st.st_uid != ::geteuid()) {
    why = folder + " belongs to another user";
  } else if ((st.st_mode & 077) != 0) {
    why = folder + " is open to other users";
  } else {
    return true;
  }
  return false;
}

// The folder for the lock: the user's runtime folder when it is the user's own, else a folder
// of the user's own under the temporary folder, made when missing. Empty, with `why`, when
// neither can be had.
std::string LockFolder(std::string& why) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  // A runtime folder inherited from another user (as through sudo) is theirs to fill.
  if (runtime && *runtime == '/' && IsPrivateFolder(runtime, why)) return runtime;
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = (tmp && *tmp == '/') ? tmp : "/tmp";
  const std::string folder = base + "/vellomar-" + std::to_string(::geteuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = folder + ": " + std::strerror(errno);
    return {};
  }
  // Made by someone else, a link, or opened up since: not a place for the lock.
  if (!IsPrivateFolder(folder, why)) return {};
  return folder;
}

}  // namespace

LockResult TakeInstanceLock(const std::string& program_path) {
  LockResult result;
  const std::string folder = LockFolder(result.reason);
  if (folder.empty()) return result;
  char name[64];
  std::snprintf(name, sizeof name, "/vellomar-%016llx.lock",
                static_cast<unsigned long long>(StableHash(program_path)));
  const std::string lock_path = folder + name;
  const int fd =
      ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    result.reason = lock_path + ": " + std::strerror(errno);
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    result.reason = lock_path + " is not a lock file of this user";
    return result;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      result.kind = LockResult::Kind::kHeldByOther;
    } else {
      result.reason = lock_path + ": " + std::strerror(err);
    }
    return result;
  }
  result.kind = LockResult::Kind::kTaken;
  result.lock = std::make_unique<FileLock>(fd);
  return result;
}

// ---- Children with their output in a file --------------------------------------------------

namespace {

class PosixChild final : public ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override { Kill(); }
  PosixChild(const PosixChild&) = delete;
  PosixChild& operator=(const PosixChild&) = delete;

  bool HasEnded() override {
    if (pid_ <= 0) return true;
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid_, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return false;
    pid_ = -1;  // reaped (or, on an error, not ours to wait for)
    return true;
  }

  void Kill() override {
    if (pid_ <= 0) return;
    // The child leads a process group of its own: whatever it started goes with it.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartWithOutput(const std::vector<std::string>& argv, OwnFile& output,
                                              StartResult& result) {
  result = StartResult::kCannotStart;
  const posix::Fd program = argv.empty() ? posix::Fd() : posix::OpenProgram(argv[0]);
  if (!program.valid()) {
    if (argv.empty() || errno == ENOENT) result = StartResult::kProgramMissing;
    return nullptr;
  }
  std::vector<char*> args = ArgumentVector(argv);
  const int out_fd = static_cast<int>(output.NativeHandle());
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0) return nullptr;
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(null_fd);
    return nullptr;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    int err = 0;
    if (::dup2(null_fd, STDIN_FILENO) < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0 ||
        ::dup2(out_fd, STDERR_FILENO) < 0) {
      err = errno;
    }
    if (err == 0) {
      posix::ExecProgram(program.get(), args.data());
      err = errno;
    }
    ReportExecFailure(report[1], err);
  }
  ::close(null_fd);
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return nullptr;
  }
  // Also set here, so that the group exists before a Kill, whichever process runs first.
  ::setpgid(child, child);
  auto handle = std::make_unique<PosixChild>(child);
  if (const auto err = ExecError(report[0])) {
    handle.reset();  // reaps the child
    result = (*err == ENOENT || *err == ENOTDIR) ? StartResult::kProgramMissing
                                                 : StartResult::kCannotStart;
    return nullptr;
  }
  result = StartResult::kStarted;
  return handle;
}

std::string InstallLockFolder() {
  if (::geteuid() == 0) return "/run/vellomar";
  std::string why;
  return LockFolder(why);
}

std::string PrivateFolder() {
  const std::string folder = InstallLockFolder();
  if (folder.empty() || ::geteuid() != 0) return folder;
  posix::Place place;
  if (posix::Locate(folder, false, place) == FolderSafety::kSafe) {
    ::mkdirat(place.folder.get(), place.name.c_str(), 0700);
  }
  std::string why;
  return IsPrivateFolder(folder, why) ? folder : std::string();
}

std::unique_ptr<InstanceLock> LockInstalls(const std::string& hosts_file, int wait_ms,
                                           const std::string& lock_folder) {
  const std::string folder = lock_folder.empty() ? InstallLockFolder() : lock_folder;
  if (folder.empty()) return nullptr;
  // A folder of this user's that nobody else may even look into, so that nobody else can open
  // the lock, let alone hold it.
  if (::geteuid() == 0 && folder == "/run/vellomar") {
    posix::Place place;
    if (posix::Locate(folder, false, place) == FolderSafety::kSafe) {
      ::mkdirat(place.folder.get(), place.name.c_str(), 0700);
    }
  }
  FolderSafety safety;
  const posix::Fd dir = posix::OpenFolder(folder, safety, posix::Rule::kAlways);
  struct stat st {};
  if (!dir.valid() || ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0) {
    return nullptr;
  }
  // One lock for each hosts file, as the system reaches it.
  char name[64];
  std::snprintf(
      name, sizeof name, "install-%016llx.lock",
      static_cast<unsigned long long>(StableHash(ResolvePath(hosts_file).value_or(hosts_file))));
  const int fd =
      ::openat(dir.get(), name, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return nullptr;
  auto lock = std::make_unique<FileLock>(fd);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return nullptr;
  const long long deadline = NowMs() + wait_ms;
  int locked;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 &&
         (errno == EWOULDBLOCK || errno == EINTR) && NowMs() < deadline) {
    ::usleep(20000);
  }
  if (locked != 0) return nullptr;
  return lock;
}

HangUpResult HangUpProgram(std::int64_t pid, std::string_view program) {
  if (pid <= 0 || pid > INT_MAX) return HangUpResult::kNoProcess;
  // The program's name as the kernel keeps it (at most 15 bytes), a line.
  const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
  const int fd = ::open(comm.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? HangUpResult::kNoProcess : HangUpResult::kRefused;
  char name[64];
  const ssize_t got = ::read(fd, name, sizeof name);
  ::close(fd);
  if (got <= 0) return HangUpResult::kRefused;
  std::string_view running(name, static_cast<std::size_t>(got));
  if (running.back() == '\n') running.remove_suffix(1);
  if (running != program.substr(0, 15)) return HangUpResult::kNotThatProgram;
  if (::kill(static_cast<pid_t>(pid), SIGHUP) == 0) return HangUpResult::kSent;
  return errno == ESRCH ? HangUpResult::kNoProcess : HangUpResult::kRefused;
}

}  // namespace vellomar::platform
