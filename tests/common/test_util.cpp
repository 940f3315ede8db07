#include "common/test_util.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace vellomar::testing {

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
    const auto candidate = base / ("vellomar-test-" + std::to_string(random() % 1000000000u));
    std::error_code ec;
    // create_directory is false for a folder that was there already: that one is someone else's.
    if (std::filesystem::create_directory(candidate, ec)) {
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, ec);
      path_ = candidate.string();
    }
  }
  if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore rights a test may have taken away, so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(
        it->path(), std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return platform::JoinPath(path_, name); }

bool OnWindows() { return platform::NativeOsFamily() == platform::OsFamily::kWindows; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
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

bool RecordingLauncher::Start(const std::vector<std::string>& argv, platform::WindowStyle style,
                              const std::string& working_folder) {
  records.push_back({LaunchRecord::Kind::kStart, argv, style, working_folder});
  return true;
}

bool RecordingLauncher::ShellOpen(const std::string& target) {
  records.push_back(
      {LaunchRecord::Kind::kShellOpen, {target}, platform::WindowStyle::kNormalFocus, {}});
  return true;
}

}  // namespace vellomar::testing
