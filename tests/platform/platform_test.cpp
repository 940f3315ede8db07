#include "platform/platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "common/test_util.h"

namespace vellomar::platform {
namespace {

using testing::Contains;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;
using V = std::vector<std::string>;

unsigned Mode(const std::string& p) { return static_cast<unsigned>(fs::status(p).permissions()); }

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One holder for each program, in a folder of the user's own made private. Another user who
// makes the lock folder first, or puts a link there, or opens it up, can neither keep the
// program from starting nor point its lock elsewhere: the lock is reported unavailable and the
// program runs. A runtime folder of another user is not used.
TEST(InstanceLockTest, OneHolderForEachProgramInAPrivateFolder) {
  {
    TempDir dir;
    const ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    const ScopedEnv tmp("TMPDIR", dir.path().c_str());
    auto first = TakeInstanceLock(dir.File("vellomar"));
    ASSERT_EQ(first.kind, LockResult::Kind::kTaken) << first.reason;
    EXPECT_EQ(Mode(dir.File("vellomar-" + std::to_string(::geteuid()))), 0700u);
    EXPECT_EQ(TakeInstanceLock(dir.File("vellomar")).kind, LockResult::Kind::kHeldByOther);
    EXPECT_EQ(TakeInstanceLock(dir.File("other")).kind, LockResult::Kind::kTaken);
    first.lock.reset();
    EXPECT_EQ(TakeInstanceLock(dir.File("vellomar")).kind, LockResult::Kind::kTaken);
  }
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  for (const std::string kind : {"foreign", "link", "open"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string folder = dir.File("vellomar-0");
    ::mkdir(dir.File("elsewhere").c_str(), 0700);
    if (kind == "link") {
      ::symlink(dir.File("elsewhere").c_str(), folder.c_str());
    } else {
      ::mkdir(folder.c_str(), 0700);
      if (kind == "foreign") ::chown(folder.c_str(), testing::kNobody, testing::kNobody);
      if (kind == "open") ::chmod(folder.c_str(), 0777);
    }
    ::chown(dir.File("elsewhere").c_str(), testing::kNobody, testing::kNobody);
    const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.File("elsewhere").c_str());
    const ScopedEnv tmp("TMPDIR", dir.path().c_str());
    const auto result = TakeInstanceLock(dir.File("vellomar"));
    EXPECT_EQ(result.kind, LockResult::Kind::kUnavailable);
    EXPECT_TRUE(Contains(result.reason, folder));
    EXPECT_EQ(testing::Entries(dir.File("elsewhere")), 0);
  }
}

// A writable program folder stays the program folder; an installed one, or one the user cannot
// write, gives the data folder, made private and seeded once, never over the user's sources.
TEST(DataFolderTest, ChoosesTheProgramOrTheDataFolderAndSeedsItOnce) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  ProgramFolderChoice choice = ChooseProgramFolder(dir.path(), dir.File("home/.local/share"));
  EXPECT_EQ(choice.folder, dir.path());
  EXPECT_EQ(choice.problem, FolderProblem::kNone);
  EXPECT_FALSE(fs::exists(dir.File("home")));

  fs::create_directories(dir.File("usr/bin"));
  fs::create_directories(dir.File("usr/share/vellomar/Hostfiles"));
  WriteFile(dir.File("usr/share/vellomar/Hostfiles/H_0_Header.txt"), "# header\n");
  WriteFile(dir.File("usr/share/vellomar/Hostfiles/.hidden"), "x");
  const std::string data = dir.File("home/.local/share/vellomar");
  choice = ChooseProgramFolder(dir.File("usr/bin"), dir.File("home/.local/share"));
  EXPECT_EQ(choice.folder, data);  // root too: an installed folder is never written
  EXPECT_EQ(choice.problem, FolderProblem::kNone);
  EXPECT_EQ(Mode(data), 0700u);
  EXPECT_EQ(ReadFile(data + "/Hostfiles/H_0_Header.txt"), "# header\n");
  EXPECT_FALSE(fs::exists(data + "/Hostfiles/.hidden"));
  WriteFile(data + "/Hostfiles/H_0_Header.txt", "# mine\n");
  WriteFile(dir.File("usr/share/vellomar/Hostfiles/H_New.txt"), "0.0.0.0 a\n");
  EXPECT_EQ(ChooseProgramFolder(dir.File("usr/bin"), dir.File("home/.local/share")).folder, data);
  EXPECT_EQ(ReadFile(data + "/Hostfiles/H_0_Header.txt"), "# mine\n");
  EXPECT_FALSE(fs::exists(data + "/Hostfiles/H_New.txt"));

  // As nobody: a program folder of root's (a portable copy) gives nobody's data folder, seeded
  // from the copy's own sources.
  fs::create_directories(dir.File("copy/Hostfiles"));
  WriteFile(dir.File("copy/Hostfiles/H_0_Header.txt"), "# copy\n");
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as nobody";
  fs::create_directories(dir.File("nobody"));
  ASSERT_EQ(::chown(dir.File("nobody").c_str(), testing::kNobody, testing::kNobody), 0);
  EXPECT_TRUE(testing::RunInChild(
      [&] {
        const auto c = ChooseProgramFolder(dir.File("copy"), dir.File("nobody/.local/share"));
        return c.folder == dir.File("nobody/.local/share/vellomar") &&
               c.problem == FolderProblem::kNone &&
               ReadFile(c.folder + "/Hostfiles/H_0_Header.txt") == "# copy\n";
      },
      true));
}

// The rule of every file function, as root: nothing is read, made, appended to or run through a
// folder that another user owns or may write in (a folder above counts too), nor through a link
// someone else could have planted; a link of root's in a folder of root's is followed, also one
// in a sticky folder.
TEST(PathRuleTest, RootGoesOnlyThroughFoldersAndLinksNobodyElseControls) {
  TempDir dir;                        // under the sticky, world-writable /tmp
  ::chmod(dir.path().c_str(), 0777);  // a folder above counts, for every user
  ::mkdir(dir.File("sub").c_str(), 0755);
  EXPECT_EQ(CheckFolderSafety(dir.File("sub")), FolderSafety::kOpenToOthers);
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(CheckFolderSafety(dir.File("sub")), FolderSafety::kSafe);
  EXPECT_EQ(CheckFolderSafety(dir.File("missing")), FolderSafety::kMissing);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give folders and links to another user";
  for (const auto& [name, mode] :
       {std::pair{"own", 0755}, {"theirs", 0755}, {"open", 0777}, {"sticky", 01777}}) {
    ::mkdir(dir.File(name).c_str(), 0755);
    ::chmod(dir.File(name).c_str(), static_cast<mode_t>(mode));
    WriteFile(dir.File(name) + "/tool", "#!/bin/sh\nexit 0\n");
    ::chmod((dir.File(name) + "/tool").c_str(), 0755);
  }
  ::chown(dir.File("theirs").c_str(), testing::kNobody, testing::kNobody);
  ::symlink(dir.File("own").c_str(), dir.File("own-link").c_str());
  ::symlink((dir.File("own") + "/tool").c_str(), (dir.File("sticky") + "/mine").c_str());
  ::symlink((dir.File("own") + "/tool").c_str(), (dir.File("sticky") + "/planted").c_str());
  ::lchown((dir.File("sticky") + "/planted").c_str(), testing::kNobody, testing::kNobody);
  for (const auto& [path, reachable] : {std::pair{dir.File("own/tool"), true},
                                        {dir.File("own-link/tool"), true},
                                        {dir.File("sticky/mine"), true},
                                        {dir.File("theirs/tool"), false},
                                        {dir.File("open/tool"), false},
                                        {dir.File("sticky/planted"), false}}) {
    SCOPED_TRACE(path);
    ReadStatus status;
    EXPECT_EQ(InputFile::Open(path, Links::kFollow, status).IsOpen(), reachable);
    EXPECT_EQ(status, reachable ? ReadStatus::kOk : ReadStatus::kUnsafePath);
    EXPECT_EQ(RunAndWait({path}, {}).started, reachable);
    // What is made beside it depends on the folder alone: root may make files in /tmp.
    const std::string beside = path.substr(0, path.find_last_of('/')) + "/new";
    const bool folder_usable = reachable || path == dir.File("sticky/planted");
    EXPECT_EQ(CreateReplacementFile(beside) != nullptr, folder_usable);
    EXPECT_EQ(AppendToLog(beside + "_Log.txt", "x\n"), folder_usable);
    EXPECT_EQ(CheckPathSafety(path) == FolderSafety::kSafe, reachable);
  }
  EXPECT_EQ(CheckFolderSafety(dir.File("theirs")), FolderSafety::kForeignOwner);
}

// The command that runs the helper as root is given only for a pkexec and a helper that nobody
// but root can change, each in a folder of root's all the way up.
TEST(PrivilegedInstallCommandTest, OnlyProgramsNobodyButRootCanChangeAreRunAsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of root's and of another user";
  const std::vector<std::pair<std::string, std::function<void(const TempDir&)>>> spoilers = {
      {"none", [](const TempDir&) {}},
      {"helper writable by its group",
       [](const TempDir& d) { ::chmod(d.File("bin/helper").c_str(), 0775); }},
      {"helper of another user",
       [](const TempDir& d) { ::chown(d.File("bin/helper").c_str(), testing::kNobody, 0); }},
      {"helper in a folder of another user",
       [](const TempDir& d) { ::chown(d.File("bin").c_str(), testing::kNobody, 0); }},
      {"helper in a folder open to all",
       [](const TempDir& d) { ::chmod(d.File("bin").c_str(), 0777); }},
      {"pkexec of another user",
       [](const TempDir& d) { ::chown(d.File("pkexec").c_str(), testing::kNobody, 0); }},
      {"no action file", [](const TempDir& d) { ::unlink(d.File("action.policy").c_str()); }},
      {"no helper", [](const TempDir& d) { ::unlink(d.File("bin/helper").c_str()); }},
  };
  for (const auto& [spoiler, spoil] : spoilers) {
    SCOPED_TRACE(spoiler);
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    ::mkdir(dir.File("bin").c_str(), 0755);
    for (const char* program : {"bin/helper", "pkexec"}) {
      WriteFile(dir.File(program), "#!/bin/sh\n");
      ::chmod(dir.File(program).c_str(), 0755);
    }
    WriteFile(dir.File("action.policy"), "<policyconfig/>\n");
    spoil(dir);
    const auto command = PrivilegedInstallCommand(dir.File("bin/helper"), dir.File("action.policy"),
                                                  dir.File("pkexec"));
    const std::vector<std::string> expected = {dir.File("pkexec"), dir.File("bin/helper")};
    EXPECT_EQ(command, spoiler == "none" ? expected : std::vector<std::string>());
  }
}

// SIGHUP reaches a process only when it runs the program named.
TEST(HangUpProgramTest, SignalsOnlyTheProgramNamed) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  EXPECT_EQ(HangUpProgram(0, ProgramName()), HangUpResult::kNoProcess);
  EXPECT_EQ(HangUpProgram(child, "dnsmasq"), HangUpResult::kNotThatProgram);
  EXPECT_EQ(HangUpProgram(child, ProgramName()), HangUpResult::kSent);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP);
}

}  // namespace
}  // namespace vellomar::platform
