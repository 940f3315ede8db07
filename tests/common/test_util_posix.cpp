#include <sys/stat.h>
// The test helpers that need POSIX means: the file size limit of a process, sparse files and
// child processes.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "common/test_util.h"

namespace vellomar::testing {

bool LimitFileSize(std::uint64_t bytes) {
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(bytes);
  // A write past the limit fails with EFBIG instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void MakeSparseFile(const std::string& path, std::uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    ADD_FAILURE() << "cannot make sparse file " << path;
  }
  if (fd >= 0) ::close(fd);
}

bool RunInChild(const std::function<bool()>& step, bool as_nobody, unsigned seconds) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    if (as_nobody &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(3);
    }
    ::_exit(step() ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

std::string PlaceProbe(const std::string& folder, const std::string& stem) {
  const std::string path = folder + "/" + stem;
  std::error_code ec;
  std::filesystem::copy_file(VELLOMAR_PROBE, path, ec);
  if (ec) ADD_FAILURE() << "cannot copy the probe to " << path << ": " << ec.message();
  return path;
}

void WriteScript(const std::string& path, const std::string& bytes) {
  WriteFile(path, bytes);
  ::chmod(path.c_str(), 0700);
}

}  // namespace vellomar::testing
