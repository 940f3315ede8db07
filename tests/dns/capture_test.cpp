#include "dns/capture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/test_util.h"

namespace vellomar::dns {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Error = Capture::StartError;
using State = Capture::State;

#ifndef _WIN32  // the tool is a /bin/sh script
const std::string kListing = "Scope protocol=dns\nx.example IN A 192.0.2.1\n";

// A fake resolver tool: lists kListing for "show-cache" (after a sleep of `delay` seconds,
// whose process id it leaves in "sleep.pid"), fails otherwise.
std::string FakeTool(const TempDir& dir, const std::string& delay = "0") {
  WriteFile(dir.File("listing.txt"), kListing);
  const std::string tool = dir.File("resolvectl");
  testing::WriteScript(tool, "#!/bin/sh\nsleep " + delay + " & echo $! > " + dir.File("sleep.pid") +
                                 "; wait\n[ \"$1\" = show-cache ] && exec cat " +
                                 dir.File("listing.txt") + "\nexit 3\n");
  return tool;
}

Capture::PollResult PollUntilDone(Capture& capture) {
  for (int i = 0; i < 500; ++i) {
    auto result = capture.Poll();
    if (result.state != State::kPending) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {State::kPending, {}};
}
#endif

// Nothing is run by its path in the program folder: a script planted there as read.sh (or a
// link or pipe at the capture file, left by someone else) is never run nor written through.
// The listing, then the marker, end up in a capture file this program made.
TEST(CaptureTest, TheToolWritesIntoAFreshCaptureFileAndTheMarkerFollows) {
#ifdef _WIN32
  GTEST_SKIP() << "runs a /bin/sh tool over links and FIFOs; windows_platform_test runs the "
                  "capture with a stand-in for ipconfig";
#else
  TempDir dir;
  const std::string tool = FakeTool(dir);
  const std::string folder = dir.File("program");
  ::mkdir(folder.c_str(), 0755);
  const std::string capture_path = folder + "/displaydns.txt";
  WriteFile(folder + "/read.sh", "touch " + dir.File("pwned") + "\n");
  ::chmod((folder + "/read.sh").c_str(), 0777);
  const auto launcher = platform::CreateSystemLauncher();
  Capture capture(*launcher);
  for (const std::string leftover : {"dangling link", "pipe", "old capture"}) {
    SCOPED_TRACE(leftover);
    if (leftover == "dangling link") ::symlink(dir.File("created").c_str(), capture_path.c_str());
    if (leftover == "pipe") ::mkfifo(capture_path.c_str(), 0666);
    ASSERT_EQ(capture.Start(folder, tool), Error::kNone);
    EXPECT_TRUE(capture.Pending());
    const auto result = PollUntilDone(capture);
    EXPECT_EQ(result.state, State::kFinished);
    EXPECT_EQ(result.text, kListing + "@finishednow@\n");
    EXPECT_EQ(ReadFile(capture_path), result.text);  // kept for the editor
    EXPECT_EQ(capture.Poll().state, State::kIdle);
    struct stat st {};
    ASSERT_EQ(::lstat(capture_path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_FALSE(Exists(dir.File("created")));
  EXPECT_FALSE(Exists(dir.File("pwned")));
#endif
}

// Every way a capture cannot start is told, and none leaves the caller polling for ever.
TEST(CaptureTest, SaysWhyACaptureDidNotStart) {
#ifdef _WIN32
  GTEST_SKIP() << "runs a /bin/sh tool and needs modes and root; windows_platform_test covers the "
                  "Windows start errors";
#else
  TempDir dir;
  const std::string tool = FakeTool(dir);
  const auto launcher = platform::CreateSystemLauncher();
  Capture capture(*launcher);
  const std::string folder = dir.File("program");
  ::mkdir(folder.c_str(), 0755);
  WriteFile(folder + "/displaydns.txt", "old");
  EXPECT_EQ(capture.Start(folder, ""), Error::kNoTool);
  EXPECT_FALSE(Exists(folder + "/displaydns.txt"));  // old captures go all the same
  EXPECT_EQ(capture.Start(folder, dir.File("no-such-tool")), Error::kToolMissing);
  EXPECT_EQ(capture.Start(folder, "resolvectl"), Error::kToolMissing);  // no search path
  EXPECT_EQ(capture.Start(folder, dir.path()), Error::kCannotStart);
  EXPECT_FALSE(capture.Pending());
  EXPECT_EQ(capture.Poll().state, State::kIdle);
  ::mkdir((folder + "/displaydns.txt").c_str(), 0755);  // a leftover that unlink cannot take
  EXPECT_EQ(capture.Start(folder, tool), Error::kLeftover);
  ::rmdir((folder + "/displaydns.txt").c_str());
  ::chmod(folder.c_str(), 0777);
  if (::geteuid() == 0) {
    EXPECT_EQ(capture.Start(folder, tool), Error::kFolderUnsafe);
  }
#endif
}

// The time-out of the caller: a tool that hangs is killed with what it started, and its
// capture file goes.
TEST(CaptureTest, CancelKillsAHangingToolAndRemovesTheFile) {
#ifdef _WIN32
  GTEST_SKIP()
      << "runs a /bin/sh tool and watches /proc; windows_platform_test kills a hanging stand-in";
#else
  TempDir dir;
  const std::string tool = FakeTool(dir, "30");
  const auto launcher = platform::CreateSystemLauncher();
  Capture capture(*launcher);
  ASSERT_EQ(capture.Start(dir.path(), tool), Error::kNone);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(capture.Poll().state, State::kPending);
  const auto before = std::chrono::steady_clock::now();
  capture.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(capture.Pending());
  EXPECT_FALSE(Exists(dir.File("displaydns.txt")));
  // The sleep the tool started went with it.
  const pid_t sleep_pid = std::stoi(ReadFile(dir.File("sleep.pid")));
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    const std::string state = ReadFile("/proc/" + std::to_string(sleep_pid) + "/stat");
    gone = state.empty() || state.find(") Z") != std::string::npos;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
#endif
}

}  // namespace
}  // namespace vellomar::dns
