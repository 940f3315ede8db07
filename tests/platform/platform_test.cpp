#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/test_util.h"

namespace vellomar::platform {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

unsigned Mode(const std::string& p) { return static_cast<unsigned>(fs::status(p).permissions()); }

TEST(ExistenceTest, FindsOrdinaryVisibleFilesOnly) {
  TempDir dir;
  WriteFile(dir.File("hosts"), "x");
  WriteFile(dir.File(".hosts"), "x");
  ::mkdir(dir.File("folder").c_str(), 0755);
  ::symlink(dir.File("hosts").c_str(), dir.File("link").c_str());
  ::symlink(dir.File("folder").c_str(), dir.File("folderlink").c_str());
  ::symlink(dir.File("gone").c_str(), dir.File("dangling").c_str());
  EXPECT_TRUE(FileExists(dir.File("hosts")));
  EXPECT_TRUE(FileExists(dir.File("link")));
  for (const auto& path : {dir.File(".hosts"), dir.File("folder"), dir.File("folderlink"),
                           dir.File("dangling"), dir.File("missing"), std::string()}) {
    EXPECT_FALSE(FileExists(path)) << path;
  }
  EXPECT_EQ(
      FirstExisting({dir.File(".hosts"), dir.File("folder"), dir.File("hosts"), dir.File("link")}),
      dir.File("hosts"));
  EXPECT_EQ(FirstExisting({dir.File("missing"), dir.File(".hosts")}), "");
}

TEST(ProgramTest, NamesTheRunningProgram) {
  EXPECT_EQ(ProgramName(), "platform_test");
  EXPECT_EQ(JoinPath(ProgramFolder(), "platform_test"), ProgramPath());
  EXPECT_NE(ProgramFolder().back(), '/');
}

TEST(AttributesTest, AddsOwnerWrite) {
  TempDir dir;
  WriteFile(dir.File("hosts"), "x");
  ::chmod(dir.File("hosts").c_str(), 0444);
  const auto removed = SetAttributesNormal(dir.File("hosts"));
  ASSERT_TRUE(removed.has_value());
  EXPECT_TRUE(removed->added_owner_write);
  EXPECT_EQ(Mode(dir.File("hosts")), 0644u);
  EXPECT_FALSE(SetAttributesNormal(dir.File("missing")).has_value());
}

TEST(ScriptTest, CreatesPrivateScriptsExclusivelyWithoutFollowingLinks) {
  TempDir dir;
  const std::string script = dir.File("read.sh");
  ASSERT_TRUE(CreatePrivateScript(script, "echo hi\n"));
  EXPECT_EQ(Mode(script), 0700u);
  EXPECT_FALSE(CreatePrivateScript(script, "again\n"));  // exists already
  EXPECT_EQ(ReadFile(script), "echo hi\n");
  WriteFile(dir.File("target"), "keep");
  ::symlink(dir.File("target").c_str(), dir.File("link.sh").c_str());
  EXPECT_FALSE(CreatePrivateScript(dir.File("link.sh"), "evil\n"));
  EXPECT_EQ(ReadFile(dir.File("target")), "keep");
}

TEST(LauncherTest, StartsWithoutWaitingAndReportsMissingPrograms) {
  TempDir dir;
  auto launcher = CreateSystemLauncher();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(launcher->Start({"/bin/sh", "-c", "sleep 1; printf '%s' \"$0\" > out.txt", "a b  c"},
                              WindowStyle::kMinimizedNoFocus, dir.path()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  for (int i = 0; i < 100 && ReadFile(dir.File("out.txt")).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFile(dir.File("out.txt")), "a b  c");  // an argument with blanks stays whole
  EXPECT_FALSE(launcher->Start({dir.File("no-such-program")}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({"vellomar-no-such-program"}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({}, WindowStyle::kNormalFocus));
}

TEST(InstanceLockTest, SecondHolderOfTheSameProgramIsRefused) {
  TempDir dir;
  auto first = AcquireInstanceLock(dir.File("vellomar"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(AcquireInstanceLock(dir.File("vellomar")), nullptr);
  EXPECT_NE(AcquireInstanceLock(dir.File("other")), nullptr);
  first.reset();
  EXPECT_NE(AcquireInstanceLock(dir.File("vellomar")), nullptr);
}

TEST(ReplacementFileTest, ReplacesOnlyOnCommitTakingOwnerAndMode) {
  TempDir dir;
  const std::string target = dir.File("hosts");
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  if (auto abandoned = CreateReplacementFile(target)) abandoned->Write("partial");
  auto file = CreateReplacementFile(target, target);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write("new "));
  EXPECT_TRUE(file->Write("content"));
  EXPECT_EQ(ReadFile(target), "old");  // nothing visible before the commit, nor once abandoned
  EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  EXPECT_EQ(ReadFile(target), "new content");
  EXPECT_EQ(Mode(target), 0640u);
  // No temporary file is left behind either way.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
  EXPECT_EQ(CreateReplacementFile(dir.File("missing/hosts")), nullptr);
}

TEST(ReplacementFileTest, ReportsARenameThatCannotReplaceAFolder) {
  TempDir dir;
  ::mkdir(dir.File("occupied").c_str(), 0755);
  WriteFile(dir.File("occupied/inside"), "x");
  auto file = CreateReplacementFile(dir.File("occupied"));
  ASSERT_NE(file, nullptr);
  file->Write("new");
  EXPECT_NE(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  EXPECT_EQ(ReadFile(dir.File("occupied/inside")), "x");
}

}  // namespace
}  // namespace vellomar::platform
