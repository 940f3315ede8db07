#pragma once
// Helpers shared by the tests: a private temporary folder, whole-file access and a launcher
// that records instead of starting anything.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path(), the system's separator, name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// True when the tests run on Windows (under Wine on Linux), where the POSIX means some tests
// need (hidden dot files, modes, links, /bin/sh, /proc) do not exist.
bool OnWindows();

// Whether `text` holds `part`; the failure shows both.
inline ::testing::AssertionResult Contains(std::string_view text, std::string_view part) {
  if (text.find(part) != std::string_view::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << ::testing::PrintToString(std::string(part)) << " not in "
                                       << ::testing::PrintToString(std::string(text));
}

// Writes `bytes` to `path`, replacing it; fails the current test when it cannot.
void WriteFile(const std::string& path, const std::string& bytes);
// The bytes of the file at `path`; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // anything at the path, links not followed
// The number of entries in `folder`, hidden ones included: counts temporary files left behind.
long Entries(const std::string& folder);

// A copy of the probe program (tests/platform/probe.cpp) in `folder`, named `stem` and the
// system's suffix for programs; its path.
std::string PlaceProbe(const std::string& folder, const std::string& stem);

#ifndef _WIN32
// What only POSIX systems have: a limit on the size of the files this process may write (as a
// full file system would set one), sparse files, other users, scripts, child processes.
bool LimitFileSize(std::uint64_t bytes);
// A sparse file of `size` bytes (no blocks written), for the size cap.
void MakeSparseFile(const std::string& path, std::uint64_t size);
// WriteFile, then made runnable by its owner (a script standing in for a system tool).
void WriteScript(const std::string& path, const std::string& bytes);
// Runs `step` in a child process, as user and group `nobody` when `as_nobody`, killed after
// `seconds`; true when it ran to its end and returned true. A step that blocks fails here
// instead of holding the test up.
bool RunInChild(const std::function<bool()>& step, bool as_nobody = false, unsigned seconds = 10);
inline constexpr unsigned kNobody = 65534;
#endif

// One start or shell open as the program asked for it.
struct LaunchRecord {
  enum class Kind { kStart, kShellOpen } kind;
  std::vector<std::string> argv;  // for kShellOpen: the target alone
  platform::WindowStyle style = platform::WindowStyle::kNormalFocus;
  std::string working_folder;
};

class RecordingLauncher : public platform::Launcher {
 public:
  bool Start(const std::vector<std::string>& argv, platform::WindowStyle style,
             const std::string& working_folder) override;
  bool ShellOpen(const std::string& target) override;

  std::vector<LaunchRecord> records;
  bool starts = true;  // false: nothing starts, as when no program is there
};

}  // namespace vellomar::testing
