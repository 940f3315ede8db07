#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "common/test_util.h"
#include "install/host_update.h"
#include "install/verdict.h"
#include "platform/platform.h"

extern char** environ;

namespace vellomar::install {
namespace {

using support::LineEnd;
using support::LogTarget;
using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr uid_t kNobody = 65534;
const std::string kOld = "127.0.0.1 localhost\r\n# old hosts\r\n";
const std::string kNew = "# merged\r\n0.0.0.0 ads.example\r\n0.0.0.0 track.example\r\n";

// The names in a folder, sorted and joined by blanks: shows any temporary file left behind.
std::string Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

std::optional<unsigned int> InodeFlags(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  unsigned int flags = 0;
  const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return ok ? std::optional(flags) : std::nullopt;
}

bool SetInodeFlags(const std::string& path, unsigned int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// The user that the permission tests run as: `nobody` when the tests run as root (who passes
// every permission check), else the user running them.
uid_t PlainUser() { return ::geteuid() == 0 ? kNobody : ::geteuid(); }

// Runs `step` as PlainUser(): in a child process that gives up root, or right here.
bool RunAsPlainUser(const std::function<void()>& step) {
  if (::geteuid() != 0) {
    step();
    return true;
  }
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(3);
    }
    step();
    ::_exit(0);
  }
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a program and waits: its exit code, or 128 + the signal that ended it, or -1.
int RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Installed(const std::string& program) {
  return RunProgram({"/bin/sh", "-c", "command -v " + program + " >/dev/null"}) == 0;
}

// A temporary folder laid out like a system: etc/hosts, the merged file and a log folder.
struct Layout {
  TempDir dir;
  std::string etc = dir.File("etc");
  std::string hosts = etc + "/hosts";
  std::string backup = hosts + ".ZRB";
  std::string merged = dir.File("M_Hosts.txt");
  LogTarget log{dir.File("log/vellomar_Log.txt"), LineEnd::kCrLf};

  Layout() {
    std::filesystem::create_directories(etc);
    std::filesystem::create_directories(dir.File("log"));
    WriteFile(hosts, kOld);
    WriteFile(merged, kNew);
  }
  // Opens the tree to PlainUser(): reading everywhere, writing the log.
  void OpenToPlainUser() const {
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(merged.c_str(), 0644);
    ::chown(dir.File("log").c_str(), PlainUser(), static_cast<gid_t>(-1));
  }
  void Update() const { DoHostUpdate(merged, hosts, log); }
};

TEST(HostUpdateTest, ReplacesHostsAndKeepsTheHostsFromJustBeforeAsBackup) {
  Layout s;
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  EXPECT_EQ(ReadFile(s.backup), kOld);
  EXPECT_EQ(ReadFile(s.merged), kNew);
  EXPECT_FALSE(Exists(s.log.path));
  EXPECT_EQ(Listing(s.etc), "hosts hosts.ZRB");

  const std::string third = "# third\n127.0.0.1 localhost\n";
  WriteFile(s.merged, third);
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), third);
  EXPECT_EQ(ReadFile(s.backup), kNew);  // the first backup is gone
  EXPECT_EQ(Listing(s.etc), "hosts hosts.ZRB");

  DoHostUpdate(s.backup, s.hosts, s.log);  // installing the backup swaps the two
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  EXPECT_EQ(ReadFile(s.backup), third);
  EXPECT_FALSE(Exists(s.log.path));
}

TEST(HostUpdateTest, ReturnsSilentlyWhenEitherFileIsAbsent) {
  Layout s;
  WriteFile(s.backup, "older backup");
  DoHostUpdate(s.dir.File("missing.txt"), s.hosts, s.log);
  DoHostUpdate("", s.hosts, s.log);
  std::filesystem::rename(s.merged, s.dir.File(".M_Hosts.txt"));
  DoHostUpdate(s.dir.File(".M_Hosts.txt"), s.hosts, s.log);  // a hidden file counts as absent
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.backup), "older backup");

  std::filesystem::rename(s.dir.File(".M_Hosts.txt"), s.merged);
  std::filesystem::rename(s.hosts, s.etc + "/.hosts");
  DoHostUpdate(s.merged, s.etc + "/.hosts", s.log);
  DoHostUpdate(s.merged, s.hosts, s.log);
  DoHostUpdate(s.merged, "", s.log);
  EXPECT_EQ(Listing(s.etc), ".hosts hosts.ZRB");
  EXPECT_EQ(ReadFile(s.etc + "/.hosts"), kOld);
  EXPECT_FALSE(Exists(s.log.path));
}

TEST(HostUpdateTest, NeverInstallsAMergedFileThatReadsEmpty) {
  Layout s;
  WriteFile(s.merged, "");
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.backup), kOld);
  EXPECT_EQ(ReadFile(s.log.path), "Could not Find " + s.merged + "\r\n");
  EXPECT_EQ(Listing(s.etc), "hosts hosts.ZRB");
}

TEST(HostUpdateTest, NewHostsKeepsOwnerGroupAndModeOfTheOld) {
  Layout s;
  WriteFile(s.hosts, "");  // an empty hosts file is backed up as such
  ::chmod(s.hosts.c_str(), 0444);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(s.hosts.c_str(), kNobody, kNobody), 0);
  }
  const struct stat before = Stat(s.hosts);
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  EXPECT_TRUE(Exists(s.backup));
  EXPECT_EQ(ReadFile(s.backup), "");
  EXPECT_FALSE(Exists(s.log.path));
  const struct stat after = Stat(s.hosts);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(Stat(s.backup).st_mode & 07777, 0444u);
}

TEST(HostUpdateTest, ReadOnlyHostsAndItsBackupDoNotBlockTheNextReplacement) {
  Layout s;
  s.OpenToPlainUser();
  ::chown(s.etc.c_str(), PlainUser(), static_cast<gid_t>(-1));
  ::chown(s.hosts.c_str(), PlainUser(), static_cast<gid_t>(-1));
  ::chmod(s.hosts.c_str(), 0444);
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  const std::string third = "# third\r\n";
  WriteFile(s.merged, third);
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.hosts), third);
  EXPECT_EQ(ReadFile(s.backup), kNew);
  EXPECT_EQ(Stat(s.hosts).st_mode & 07777, 0444u);
  EXPECT_EQ(Stat(s.backup).st_mode & 07777, 0444u);
  EXPECT_EQ(Stat(s.hosts).st_uid, PlainUser());
  EXPECT_FALSE(Exists(s.log.path));
}

TEST(HostUpdateTest, FolderWithoutWritePermissionRewritesAWritableHostsInPlace) {
  Layout s;
  s.OpenToPlainUser();
  ::chown(s.hosts.c_str(), PlainUser(), static_cast<gid_t>(-1));
  ::chmod(s.hosts.c_str(), 0444);  // owned, so the owner write bit can be added for the write
  ::chmod(s.etc.c_str(), 0555);
  const ino_t inode = Stat(s.hosts).st_ino;
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  EXPECT_EQ(Stat(s.hosts).st_ino, inode);
  EXPECT_EQ(Stat(s.hosts).st_mode & 07777, 0444u);
  EXPECT_EQ(ReadFile(s.log.path), "Did not backup " + s.hosts + "\r\n");
  EXPECT_EQ(Listing(s.etc), "hosts");
}

TEST(HostUpdateTest, HostsThatCannotBeWrittenAtAllStaysWholeAndIsLogged) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a hosts file owned by another user: run as root";
  Layout s;
  s.OpenToPlainUser();
  // Folder and hosts file belong to root: nothing can be created, renamed or written.
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.log.path),
            "Did not backup " + s.hosts + "\r\nCould not Kill " + s.hosts + "\r\n");

  WriteFile(s.backup, "older backup");
  std::filesystem::remove(s.log.path);
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.backup), "older backup");
  EXPECT_EQ(ReadFile(s.log.path),
            "Could not Kill " + s.backup + "\r\nCould not Kill " + s.hosts + "\r\n");

  // A sticky folder takes new files, but not a rename over root's files.
  ::chmod(s.etc.c_str(), 01777);
  std::filesystem::remove(s.log.path);
  ASSERT_TRUE(RunAsPlainUser([&] { s.Update(); }));
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.backup), "older backup");
  EXPECT_EQ(ReadFile(s.log.path),
            "Could not Kill " + s.backup + "\r\nCould not Kill " + s.hosts + "\r\n");
  EXPECT_EQ(Listing(s.etc), "hosts hosts.ZRB");
}

TEST(HostUpdateTest, LockedHostsIsUnlockedForTheWriteAndLockedAgain) {
  for (const unsigned int lock : {FS_IMMUTABLE_FL, FS_APPEND_FL}) {
    Layout s;
    const auto flags = InodeFlags(s.hosts);
    if (!flags || !SetInodeFlags(s.hosts, *flags | lock)) {
      GTEST_SKIP() << "cannot set inode flags here (needs root and a file system that keeps them)";
    }
    s.Update();
    WriteFile(s.merged, "# again\n");
    s.Update();  // the backup carries no lock that would stop the next replacement
    const auto after = InodeFlags(s.hosts);
    SetInodeFlags(s.hosts, *flags);  // let the folder be removed
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(*after & lock, lock);
    EXPECT_EQ(ReadFile(s.hosts), "# again\n");
    EXPECT_EQ(ReadFile(s.backup), kNew);
    EXPECT_EQ(InodeFlags(s.backup).value_or(0) & (FS_IMMUTABLE_FL | FS_APPEND_FL), 0u);
    EXPECT_FALSE(Exists(s.log.path));
  }
}

TEST(InPlaceTest, RewritesTheSameFileToExactlyTheNewBytes) {
  TempDir dir;
  const std::string file = dir.File("hosts");
  WriteFile(file, kOld);
  const ino_t inode = Stat(file).st_ino;
  using platform::InPlaceResult;
  EXPECT_EQ(platform::RewriteInPlace(file, kOld + kNew), InPlaceResult::kRewritten);
  EXPECT_EQ(ReadFile(file), kOld + kNew);
  EXPECT_EQ(platform::RewriteInPlace(file, "x\n"), InPlaceResult::kRewritten);  // shorter
  EXPECT_EQ(ReadFile(file), "x\n");
  EXPECT_EQ(platform::RewriteInPlace(file, ""), InPlaceResult::kRewritten);
  EXPECT_EQ(ReadFile(file), "");
  EXPECT_EQ(Stat(file).st_ino, inode);
  EXPECT_EQ(platform::RewriteInPlace(dir.File("missing"), "x"), InPlaceResult::kNotOpened);
  EXPECT_FALSE(Exists(dir.File("missing")));
  EXPECT_EQ(platform::RewriteInPlace(dir.path(), "x"), InPlaceResult::kNotOpened);
}

TEST(VerdictTest, FailsUnlessVersionTextsAgreeAndTheBytesAreEqual) {
  TempDir dir;
  const std::string merged = dir.File("M_Hosts.txt");
  const std::string hosts = dir.File("hosts");
  WriteFile(merged, kNew);
  WriteFile(hosts, kNew);
  EXPECT_FALSE(InstallFailed("Updated: 1 May", "Updated: 1 May", merged, hosts));
  EXPECT_FALSE(InstallFailed("", "Updated: 1 May", merged, hosts));
  EXPECT_TRUE(InstallFailed("Updated: 1 May", "Updated: 2 May", merged, hosts));
  EXPECT_TRUE(InstallFailed("Updated: 1 May", "updated: 1 May", merged, hosts));
  EXPECT_TRUE(InstallFailed("Updated: 1 May", "", merged, hosts));

  WriteFile(hosts, kNew.substr(0, kNew.size() - 1));  // a copy that lost its last LF
  EXPECT_TRUE(InstallFailed("Updated: 1 May", "Updated: 1 May", merged, hosts));
  EXPECT_TRUE(InstallFailed("", "", merged, hosts));

  std::filesystem::remove(hosts);
  EXPECT_TRUE(InstallFailed("", "", merged, hosts));
  EXPECT_TRUE(InstallFailed("", "", hosts, merged));
  EXPECT_TRUE(InstallFailed("", "", merged, ""));

  // Two existing empty files are equal; an empty one against a missing one is not.
  WriteFile(hosts, "");
  WriteFile(merged, "");
  EXPECT_FALSE(InstallFailed("", "", merged, hosts));
  std::filesystem::rename(hosts, dir.File(".hosts"));
  EXPECT_TRUE(InstallFailed("", "", merged, dir.File(".hosts")));
}

// Faults that only root can arrange: a hosts file that is a mount point, a full file system,
// and system calls that fail or kill the process (injected by strace). Whatever happens, the
// hosts file must hold its old content or the whole new content.

const std::string kDriver = VELLOMAR_HOST_UPDATE_DRIVER;

// A merged file of about 20 KB: more than the small file systems below can take.
std::string BigHosts() {
  std::string bytes = "# merged\r\n";
  for (int i = 0; bytes.size() < 20000; ++i) {
    bytes += "0.0.0.0 ads" + std::to_string(i) + ".example\r\n";
  }
  return bytes;
}
const std::string kBig = BigHosts();
const std::string kShort = "# short\r\n";

class HostUpdateFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mount namespaces and tmpfs mounts need root";
    WriteFile(merged_, kBig);
  }

  // Runs `commands` as a shell script in a private mount namespace, so that whatever it
  // mounts disappears with it. Returns the script's exit code.
  int RunInMountNamespace(const std::string& commands) {
    const std::string script = dir_.File("faults" + std::to_string(++scripts_) + ".sh");
    if (!platform::CreatePrivateScript(script,
                                       "#!/bin/sh\nset -e\nmount --make-rprivate /\n" + commands)) {
      return -1;
    }
    return RunProgram({"unshare", "-m", "/bin/sh", script});
  }

  std::string DriverCommand(const std::string& hosts) const {
    return kDriver + " " + merged_ + " " + hosts + " " + log_ + "\n";
  }

  Layout layout_;
  const TempDir& dir_ = layout_.dir;
  const std::string& etc_ = layout_.etc;
  const std::string& hosts_ = layout_.hosts;
  const std::string& backup_ = layout_.backup;
  const std::string& merged_ = layout_.merged;
  const std::string& log_ = layout_.log.path;  // the driver ends its lines with LF
  std::string seen_ = dir_.File("seen");
  int scripts_ = 0;
};

TEST_F(HostUpdateFaultTest, HostsThatIsAMountPointIsRewrittenInPlace) {
  if (!Installed("unshare") || !Installed("mount")) GTEST_SKIP() << "needs unshare and mount";
  const std::string mounted = dir_.File("mounted_hosts");
  WriteFile(hosts_, "under the mount\n");
  WriteFile(mounted, kOld);
  ::chmod(mounted.c_str(), 0444);
  // An append-only mark, where the file system keeps marks, must come back after the write.
  const bool marked = SetInodeFlags(mounted, InodeFlags(mounted).value_or(0) | FS_APPEND_FL);

  ASSERT_EQ(RunInMountNamespace("mount --bind " + mounted + " " + hosts_ + "\n" +
                                DriverCommand(hosts_) + "cat " + hosts_ + " > " + seen_ + "\n"),
            0);
  const unsigned int flags = InodeFlags(mounted).value_or(0);
  SetInodeFlags(mounted, flags & ~FS_APPEND_FL);
  EXPECT_EQ(ReadFile(seen_), kBig);
  EXPECT_EQ(ReadFile(mounted), kBig);
  EXPECT_EQ(ReadFile(hosts_), "under the mount\n");
  EXPECT_EQ(ReadFile(backup_), kOld);
  EXPECT_FALSE(Exists(log_));
  EXPECT_EQ(Listing(etc_), "hosts hosts.ZRB");
  EXPECT_EQ(Stat(mounted).st_mode & 07777, 0444u);
  if (marked) {
    EXPECT_EQ(flags & FS_APPEND_FL, static_cast<unsigned int>(FS_APPEND_FL));
  }
}

TEST_F(HostUpdateFaultTest, FullFileSystemLeavesTheOldHostsWhole) {
  if (!Installed("unshare") || !Installed("mount")) GTEST_SKIP() << "needs unshare and mount";
  const std::string old_copy = dir_.File("old_hosts");
  WriteFile(old_copy, kOld);
  // Two pages: room for the old hosts file and its backup, none for the new file.
  const std::string small = dir_.File("small");
  std::filesystem::create_directories(small);
  const std::string backup_seen = dir_.File("backup_seen");
  ASSERT_EQ(RunInMountNamespace("mount -t tmpfs -o size=8k tmpfs " + etc_ + "\ncp " + old_copy +
                                " " + hosts_ + "\n" + DriverCommand(hosts_) + "cat " + hosts_ +
                                " > " + seen_ + "\ncat " + backup_ + " > " + backup_seen +
                                "\nls -A " + etc_ + " > " + dir_.File("list") + "\n"),
            0);
  EXPECT_EQ(ReadFile(seen_), kOld);
  EXPECT_EQ(ReadFile(backup_seen), kOld);
  EXPECT_EQ(ReadFile(dir_.File("list")), "hosts\nhosts.ZRB\n");  // no temporary file left
  EXPECT_EQ(ReadFile(log_), "Could not Copy to " + hosts_ + "\n");

  // The same for a hosts file that is a mount point and so is rewritten in place: first the
  // space reservation refuses, then (where strace can hide the reservation) a write runs into
  // the full disk half-way and the old bytes are put back.
  std::vector<std::string> runners = {""};
  if (Installed("strace"))
    runners.push_back("strace -f -o /dev/null -e inject=fallocate:error=EOPNOTSUPP ");
  for (const auto& runner : runners) {
    SCOPED_TRACE(runner);
    std::filesystem::remove(log_);
    WriteFile(hosts_, kOld);
    ASSERT_EQ(RunInMountNamespace("mount -t tmpfs -o size=8k tmpfs " + small + "\ncp " + old_copy +
                                  " " + small + "/hosts\nmount --bind " + small + "/hosts " +
                                  hosts_ + "\n" + runner + DriverCommand(hosts_) + "cat " + hosts_ +
                                  " > " + seen_ + "\n"),
              0);
    EXPECT_EQ(ReadFile(seen_), kOld);
    EXPECT_EQ(ReadFile(backup_), kOld);
    EXPECT_EQ(ReadFile(log_), "Could not Copy to " + hosts_ + "\n");
    EXPECT_EQ(Listing(etc_), "hosts hosts.ZRB");
  }
}

// One run of the replacement under strace with the given faults injected, and its outcome.
struct InjectedFault {
  std::vector<std::string> injections;  // strace -e inject=... values
  bool new_hosts;                       // the hosts file ends with the new content
  bool backup;                          // the backup ends present (holding the old content)
  std::vector<std::string> log_texts;   // each followed by the hosts path
  bool shorter = false;                 // the merged file is shorter than the old hosts file
};

TEST_F(HostUpdateFaultTest, FailingOrKilledSystemCallsLeaveAWholeHostsFile) {
  if (!Installed("strace")) GTEST_SKIP() << "needs strace";
  // Counting the calls of a normal run: write 1 fills the backup's temporary file, write 2
  // the new hosts file's; fsync 1 flushes the backup, 2 its folder, 3 the new hosts file,
  // 4 its folder (or, when renaming is refused, the rewrite in place); rename 1 puts the
  // backup in place, rename 2 the new hosts file.
  const std::string busy = "rename:error=EBUSY:when=2";  // as for a mount point
  const std::vector<InjectedFault> faults = {
      {{"fsync:error=EIO"}, false, false, {"Did not backup ", "Could not Copy to "}},
      {{"fsync:error=EIO:when=3"}, false, true, {"Could not Copy to "}},
      {{"write:error=ENOSPC:when=2"}, false, true, {"Could not Copy to "}},
      {{"rename:error=EACCES:when=2"}, false, true, {"Could not Kill "}},
      {{"write:signal=SIGKILL:when=1"}, false, false, {}},
      {{"write:signal=SIGKILL:when=2"}, false, true, {}},
      {{"rename:signal=SIGKILL:when=2"}, false, true, {}},
      {{"fsync:signal=SIGKILL:when=4"}, true, true, {}},
      {{busy}, true, true, {}},
      {{busy, "fallocate:error=ENOSPC"}, false, true, {"Could not Copy to "}},
      {{busy, "pwrite64:error=EIO"}, false, true, {"Could not Copy to "}},
      {{busy, "pwrite64:retval=1:when=1"}, false, true, {"Could not Copy to "}},
      {{busy, "ftruncate:error=EIO"}, false, true, {"Could not Copy to "}, true},
      {{busy, "ftruncate:error=EIO"}, true, true, {}},  // growing needs no truncation
      {{busy, "fsync:error=EIO:when=4"}, false, true, {"Could not Copy to "}},
      {{busy, "pwrite64:signal=SIGKILL:when=1"}, false, true, {}},
      {{busy, "fsync:signal=SIGKILL:when=4"}, true, true, {}},
  };
  for (const auto& fault : faults) {
    std::vector<std::string> argv = {"strace", "-f", "-o", "/dev/null"};
    std::string name;
    for (const auto& injection : fault.injections) {
      argv.insert(argv.end(), {"-e", "inject=" + injection});
      name += injection + " ";
    }
    SCOPED_TRACE(name);
    std::filesystem::remove_all(etc_);
    std::filesystem::create_directories(etc_);
    std::filesystem::remove(log_);
    WriteFile(hosts_, kOld);
    const std::string new_hosts = fault.shorter ? kShort : kBig;
    WriteFile(merged_, new_hosts);
    argv.insert(argv.end(), {kDriver, merged_, hosts_, log_});
    const int status = RunProgram(argv);
    const bool killed = name.find("SIGKILL") != std::string::npos;
    EXPECT_EQ(status, killed ? 128 + SIGKILL : 0);

    const std::string hosts = ReadFile(hosts_);
    EXPECT_TRUE(hosts == kOld || hosts == new_hosts) << "hosts holds " << hosts.size() << " bytes";
    EXPECT_EQ(hosts, fault.new_hosts ? new_hosts : kOld);
    EXPECT_EQ(Exists(backup_), fault.backup);
    if (Exists(backup_)) {
      EXPECT_EQ(ReadFile(backup_), kOld);
    }
    std::string log;
    for (const auto& text : fault.log_texts) log += text + hosts_ + "\n";
    EXPECT_EQ(ReadFile(log_), log);
  }
}

}  // namespace
}  // namespace vellomar::install
