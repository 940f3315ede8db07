// Programs started, and started and waited for, on every platform; each is a copy of the probe
// program in a temporary folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/test_util.h"
#include "platform/platform.h"

namespace vellomar::platform {
namespace {

using testing::PlaceProbe;
using testing::ReadFile;
using testing::TempDir;
using V = std::vector<std::string>;

// Each argument arrives whole, whatever the command line of the system would make of it; the
// caller does not wait; a program named without a folder is neither searched for in the PATH
// nor taken from the current folder.
TEST(LauncherTest, PassesEveryArgumentWholeWithoutWaitingAndSearchesNothing) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("with blank"));
  const std::string probe = PlaceProbe(dir.File("with blank"), "probe");
  auto launcher = CreateSystemLauncher();
  const V arguments = {"a b",     "",     "say \"hi\"", "back\\slash\\", "tab\there",
                       "two\\\\", "\\\"", "%PATH%",     "x&y|z",         "$HOME"};
  V argv = {probe, "/late"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(launcher->Start(argv, WindowStyle::kMinimizedNoFocus, dir.path()));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900));
  std::string expected;
  for (const auto& argument : arguments) expected += argument + "\n";
  for (int i = 0; i < 400 && ReadFile(dir.File("args.txt")) != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFile(dir.File("args.txt")), expected);

  const std::string planted = PlaceProbe(dir.path(), "vellomar-planted");
  const auto old_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const V& named : {V{"vellomar-planted"}, V{planted.substr(dir.path().size() + 1)},
                         V{dir.File("missing")}, V{}}) {
    EXPECT_FALSE(launcher->Start(named, WindowStyle::kNormalFocus)) << named.size();
  }
  std::filesystem::current_path(old_folder);
}

// A program waited for: its input fed, its output and errors collected within their caps, its
// status told; one that stops reading does not end this program, one that overstays is killed.
TEST(RunAndWaitTest, FeedsCollectsAndEndsWhatOverstays) {
  TempDir dir;
  const std::string probe = PlaceProbe(dir.path(), "probe");
  RunOptions options;
  options.timeout_ms = 20000;
  options.collect_output = true;
  options.max_output = 20;
  RunResult run = RunAndWait({probe, "/displaydns"}, options);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "Windows IP Configura");                           // cut at the cap
  EXPECT_EQ(RunAndWait({probe, "/exit", "3"}, options).error_output, "");  // not asked for
  if (!testing::OnWindows()) {  // the Windows programs need no input
    options.collect_errors = true;
    const std::string input = std::string(300000, '\0') + "\x1a";
    options.input = input;
    run = RunAndWait({probe, "/count", "3"}, options);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.error_output, "300001\n");
    EXPECT_EQ(run.output, "123456\n");
    const std::string large(std::size_t{8} << 20, 'y');
    options.input = large;
    EXPECT_EQ(RunAndWait({probe, "/exit", "5"}, options).exit_code, 5);  // and no SIGPIPE
    options.input.reset();
  }
  EXPECT_FALSE(RunAndWait({dir.File("missing")}, options).started);
  EXPECT_FALSE(RunAndWait({"probe"}, options).started);  // never searched for
  options.timeout_ms = 300;
  for (const bool collect : {false, true}) {
    options.collect_output = collect;
    const auto started = std::chrono::steady_clock::now();
    run = RunAndWait({probe, "/hang"}, options);
    EXPECT_TRUE(run.started && run.timed_out);
    EXPECT_EQ(run.exit_code, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  }
}

}  // namespace
}  // namespace vellomar::platform
