// The cache capture with a /bin/sh stand-in for resolvectl.
#include "dns/capture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/test_util.h"

namespace vellomar::dns {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;
using Error = Capture::StartError;
using State = Capture::State;

const std::string kListing = "Scope protocol=dns\nx.example IN A 192.0.2.1\n";

// A program folder and a tool that lists kListing for "show-cache" (after a sleep of `delay`
// seconds, whose process id it leaves in "sleep.pid") and fails otherwise.
class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(folder.c_str(), 0755);
    WriteFile(dir.File("listing.txt"), kListing);
  }
  std::string Tool(const std::string& delay = "0") {
    testing::WriteScript(tool, "#!/bin/sh\nsleep " + delay + " & echo $! > " +
                                   dir.File("sleep.pid") + "; wait\n[ \"$1\" = show-cache ] && " +
                                   "exec cat " + dir.File("listing.txt") + "\nexit 3\n");
    return tool;
  }
  Capture::PollResult PollUntilDone() {
    Capture::PollResult result = capture.Poll();
    for (int i = 0; i < 500 && result.state == State::kPending; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      result = capture.Poll();
    }
    return result;
  }

  testing::TempDir dir;
  const std::string folder = dir.File("program");
  const std::string capture_path = folder + "/displaydns.txt";
  const std::string tool = dir.File("resolvectl");
  std::unique_ptr<platform::Launcher> launcher = platform::CreateSystemLauncher();
  Capture capture{*launcher};
};

// Nothing is run by its path in the program folder: a script planted there as read.sh (or a
// link or pipe at the capture file, left by someone else) is never run nor written through.
// The listing, then the marker, end up in a capture file this program made, for the editor.
TEST_F(CaptureTest, TheToolWritesIntoAFreshCaptureFileAndTheMarkerFollows) {
  WriteFile(folder + "/read.sh", "touch " + dir.File("pwned") + "\n");
  ::chmod((folder + "/read.sh").c_str(), 0777);
  for (const std::string leftover : {"dangling link", "pipe", "old capture"}) {
    SCOPED_TRACE(leftover);
    if (leftover == "dangling link") ::symlink(dir.File("created").c_str(), capture_path.c_str());
    if (leftover == "pipe") ::mkfifo(capture_path.c_str(), 0666);
    ASSERT_EQ(capture.Start(folder, Tool()), Error::kNone);
    const auto result = PollUntilDone();
    EXPECT_EQ(result.state, State::kFinished);
    EXPECT_EQ(result.text, kListing + "@finishednow@\n");
    EXPECT_EQ(ReadFile(capture_path), result.text);
    EXPECT_EQ(capture.Poll().state, State::kIdle);
    struct stat st {};
    ASSERT_EQ(::lstat(capture_path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0600);
  }
  EXPECT_FALSE(Exists(dir.File("created")) || Exists(dir.File("pwned")));
}

// Every way a capture cannot start is told, and none leaves the caller polling for ever.
TEST_F(CaptureTest, SaysWhyACaptureDidNotStart) {
  WriteFile(capture_path, "old");
  EXPECT_EQ(capture.Start(folder, ""), Error::kNoTool);
  EXPECT_FALSE(Exists(capture_path));  // old captures go all the same
  EXPECT_EQ(capture.Start(folder, dir.File("no-such-tool")), Error::kToolMissing);
  EXPECT_EQ(capture.Start(folder, "resolvectl"), Error::kToolMissing);  // no search path
  EXPECT_EQ(capture.Start(folder, dir.path()), Error::kCannotStart);
  EXPECT_FALSE(capture.Pending());
  EXPECT_EQ(capture.Poll().state, State::kIdle);
  ::mkdir(capture_path.c_str(), 0755);  // a leftover that unlink cannot take
  EXPECT_EQ(capture.Start(folder, Tool()), Error::kLeftover);
  ::rmdir(capture_path.c_str());
  ::chmod(folder.c_str(), 0777);
  if (::geteuid() == 0) {
    EXPECT_EQ(capture.Start(folder, Tool()), Error::kFolderUnsafe);
  }
}

// The time-out of the caller: a tool that hangs is killed with what it started (the sleep goes
// too), and its capture file goes.
TEST_F(CaptureTest, CancelKillsAHangingToolAndRemovesTheFile) {
  ASSERT_EQ(capture.Start(folder, Tool("30")), Error::kNone);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(capture.Poll().state, State::kPending);
  const auto before = std::chrono::steady_clock::now();
  capture.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(capture.Pending() || Exists(capture_path));
  std::string pid = ReadFile(dir.File("sleep.pid"));
  pid.erase(pid.find('\n'));
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    const std::string state = ReadFile("/proc/" + pid + "/stat");
    gone = state.empty() || state.find(") Z") != std::string::npos;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace vellomar::dns
