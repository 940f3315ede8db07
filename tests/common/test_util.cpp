#include "common/test_util.h"

#include <gtest/gtest.h>

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

long Entries(const std::string& folder) {
  return static_cast<long>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

bool RecordingLauncher::Start(const std::vector<std::string>& argv, platform::WindowStyle style,
                              const std::string& working_folder) {
  records.push_back({LaunchRecord::Kind::kStart, argv, style, working_folder});
  return starts;
}

bool RecordingLauncher::ShellOpen(const std::string& target) {
  records.push_back(
      {LaunchRecord::Kind::kShellOpen, {target}, platform::WindowStyle::kNormalFocus, {}});
  return starts;
}

}  // namespace vellomar::testing
