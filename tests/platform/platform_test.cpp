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

using testing::TempDir;
using testing::WriteFile;

TEST(ExistenceTest, FindsOrdinaryVisibleFilesOnly) {
  TempDir dir;
  WriteFile(dir.File("hosts"), "x");
  WriteFile(dir.File(".hosts"), "x");
  ::mkdir(dir.File("folder").c_str(), 0755);
  ::symlink(dir.File("hosts").c_str(), dir.File("link").c_str());
  ::symlink(dir.File("folder").c_str(), dir.File("folderlink").c_str());
  ::symlink(dir.File("gone").c_str(), dir.File("dangling").c_str());
  ::chmod(dir.File("hosts").c_str(), 0444);  // read-only files count

  EXPECT_TRUE(FileExists(dir.File("hosts")));
  EXPECT_TRUE(FileExists(dir.File("link")));
  EXPECT_FALSE(FileExists(dir.File(".hosts")));
  EXPECT_FALSE(FileExists(dir.File("folder")));
  EXPECT_FALSE(FileExists(dir.File("folderlink")));
  EXPECT_FALSE(FileExists(dir.File("dangling")));
  EXPECT_FALSE(FileExists(dir.File("missing")));
  EXPECT_FALSE(FileExists(""));
}

TEST(ProbeTest, FirstExistingCandidateWins) {
  TempDir dir;
  WriteFile(dir.File("second"), "x");
  WriteFile(dir.File("third"), "x");
  WriteFile(dir.File(".first"), "x");
  EXPECT_EQ(FirstExisting({dir.File(".first"), dir.File("second"), dir.File("third")}),
            dir.File("second"));
  EXPECT_EQ(FirstExisting({dir.File("none"), dir.File(".first")}), "");
  EXPECT_EQ(FirstExisting({}), "");
  EXPECT_EQ(IpconfigCandidates().front(), "/usr/bin/resolvectl");
  EXPECT_EQ(NotepadCandidates().back(), "/usr/bin/xdg-open");
}

TEST(ProgramTest, NamesTheRunningProgram) {
  EXPECT_EQ(ProgramName(), "platform_test");
  EXPECT_EQ(JoinPath(ProgramFolder(), "platform_test"), ProgramPath());
  EXPECT_NE(ProgramFolder().back(), '/');
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/", "b"), "/b");
}

TEST(AttributesTest, AddsOwnerWriteAndReportsWhatItRemoved) {
  TempDir dir;
  const std::string hosts = dir.File("hosts");
  WriteFile(hosts, "x");
  ::chmod(hosts.c_str(), 0444);
  const auto removed = SetAttributesNormal(hosts);
  ASSERT_TRUE(removed.has_value());
  EXPECT_TRUE(removed->added_owner_write);
  struct stat st {};
  ASSERT_EQ(::stat(hosts.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_TRUE(RestoreProtection(hosts, *removed));
  EXPECT_FALSE(SetAttributesNormal(dir.File("missing")).has_value());
}

TEST(ScriptTest, CreatesPrivateScriptsExclusivelyWithoutFollowingLinks) {
  TempDir dir;
  const std::string script = dir.File("read.sh");
  ASSERT_TRUE(CreatePrivateScript(script, "echo hi\n"));
  EXPECT_EQ(testing::ReadFile(script), "echo hi\n");
  struct stat st {};
  ASSERT_EQ(::stat(script.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  EXPECT_FALSE(CreatePrivateScript(script, "again\n"));  // exists already
  EXPECT_EQ(testing::ReadFile(script), "echo hi\n");

  const std::string target = dir.File("target");
  WriteFile(target, "keep");
  ::symlink(target.c_str(), dir.File("link.sh").c_str());
  EXPECT_FALSE(CreatePrivateScript(dir.File("link.sh"), "evil\n"));
  EXPECT_EQ(testing::ReadFile(target), "keep");

  EXPECT_TRUE(DeleteFile(script));
  EXPECT_FALSE(testing::Exists(script));
  EXPECT_TRUE(DeleteFile(script));  // already gone counts as gone
}

TEST(LauncherTest, StartsWithoutWaitingAndReportsMissingPrograms) {
  TempDir dir;
  auto launcher = CreateSystemLauncher();
  const auto start = std::chrono::steady_clock::now();
  // The child writes a file in its working folder after a pause; Start must not wait for it.
  ASSERT_TRUE(launcher->Start({"/bin/sh", "-c", "sleep 1; echo done > out.txt"},
                              WindowStyle::kMinimizedNoFocus, dir.path()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  for (int i = 0; i < 100 && testing::ReadFile(dir.File("out.txt")).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(testing::ReadFile(dir.File("out.txt")), "done\n");

  EXPECT_FALSE(launcher->Start({dir.File("no-such-program")}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({"vellomar-no-such-program"}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({}, WindowStyle::kNormalFocus));
  // An argument with blanks reaches the program whole.
  ASSERT_TRUE(launcher->Start({"/bin/sh", "-c", "printf '%s' \"$0\" > arg.txt", "a b  c"},
                              WindowStyle::kNormalFocus, dir.path()));
  for (int i = 0; i < 100 && testing::ReadFile(dir.File("arg.txt")).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(testing::ReadFile(dir.File("arg.txt")), "a b  c");
}

TEST(InstanceLockTest, SecondHolderOfTheSameProgramIsRefused) {
  TempDir dir;
  const std::string program = dir.File("vellomar");
  auto first = AcquireInstanceLock(program);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(AcquireInstanceLock(program), nullptr);
  EXPECT_NE(AcquireInstanceLock(dir.File("other")), nullptr);  // another program file
  first.reset();
  EXPECT_NE(AcquireInstanceLock(program), nullptr);
}

}  // namespace
}  // namespace vellomar::platform

namespace vellomar::platform {
namespace {

TEST(ReplacementFileTest, ReplacesTheTargetOnlyOnCommit) {
  testing::TempDir dir;
  const std::string target = dir.File("M_Hosts.txt");
  testing::WriteFile(target, "old");
  {
    auto file = CreateReplacementFile(target);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write("new "));
    EXPECT_TRUE(file->Write("content"));
    EXPECT_EQ(testing::ReadFile(target), "old");  // nothing visible before the commit
    EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  }
  EXPECT_EQ(testing::ReadFile(target), "new content");
  {
    auto abandoned = CreateReplacementFile(target);
    ASSERT_NE(abandoned, nullptr);
    abandoned->Write("partial");
  }
  EXPECT_EQ(testing::ReadFile(target), "new content");
  // No temporary file is left behind either way.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(ReplacementFileTest, TakesOwnerAndModeOfTheFileItReplaces) {
  testing::TempDir dir;
  const std::string target = dir.File("hosts");
  testing::WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  auto file = CreateReplacementFile(target, target);
  ASSERT_NE(file, nullptr);
  file->Write("new");
  ASSERT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(CreateReplacementFile(dir.File("missing/hosts")), nullptr);
}

TEST(ReplacementFileTest, ReportsARenameThatCannotReplaceAFolder) {
  testing::TempDir dir;
  const std::string target = dir.File("occupied");
  ::mkdir(target.c_str(), 0755);
  testing::WriteFile(target + "/inside", "x");
  auto file = CreateReplacementFile(target);
  ASSERT_NE(file, nullptr);
  file->Write("new");
  EXPECT_NE(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  EXPECT_EQ(testing::ReadFile(target + "/inside"), "x");
}

}  // namespace
}  // namespace vellomar::platform
