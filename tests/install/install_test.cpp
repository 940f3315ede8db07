#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <tuple>
#include <vector>

#include "common/test_util.h"
#include "install/host_update.h"
#include "install/verdict.h"
#include "support/file_reader.h"

namespace vellomar::install {
namespace {

using namespace vellomar::testing;  // TempDir, WriteFile, ReadFile, Exists, Entries, kNobody

// A hosts file the program wrote before (it has a start marker): no original is kept for it.
const std::string kOld = "127.0.0.1 localhost\r\n# [Start of H_Old.txt entries]\r\n# old hosts\r\n";
const std::string kNew =
    "# merged\r\n# [Start of H_Ads.txt entries]\r\n0.0.0.0 ads.example\r\n0.0.0.0 "
    "track.example\r\n";

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// The inode flags of `path`, first set to `set` if given; nullopt where that cannot be done.
std::optional<unsigned int> InodeFlags(const std::string& path,
                                       std::optional<unsigned int> set = {}) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  unsigned int flags = set.value_or(0);
  const bool ok = fd >= 0 && (!set || ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) &&
                  ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return ok ? std::optional(flags) : std::nullopt;
}

// Installs the file at `path` as the programs do: read once, never through a link, then put in
// place; a file that cannot be read installs nothing.
HostUpdateOutcome DoHostUpdate(const std::string& path, const std::string& hosts,
                               const support::LogTarget& log) {
  std::string bytes;
  if (support::ReadWholeFile(path, bytes, support::InstallReadOptions()) !=
      platform::ReadStatus::kOk) {
    return {};
  }
  return InstallHostsBytes(bytes, hosts, log);
}

// A temporary folder laid out like a system: etc/hosts, the merged file and a log folder.
struct Layout {
  TempDir dir;
  std::string etc = dir.File("etc");
  std::string hosts = etc + "/hosts";
  std::string backup = hosts + ".ZRB";
  std::string merged = dir.File("M_Hosts.txt");
  support::LogTarget log{dir.File("log/vellomar_Log.txt"), support::LineEnd::kCrLf, {}};

  explicit Layout(const std::string& new_hosts = kNew) {
    std::filesystem::create_directories(etc);
    std::filesystem::create_directories(dir.File("log"));
    WriteFile(hosts, kOld);
    WriteFile(merged, new_hosts);
    // Lets `nobody` read everything.
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(merged.c_str(), 0644);
  }
  void Update() const { (void)DoHostUpdate(merged, hosts, log); }
};

// Also for a read-only hosts of another owner (when root), locked immutable or append-only: the
// new hosts keeps owner, group, mode and lock; the backup gets no lock to stop the next one.
TEST(HostUpdateTest, ReplacesHostsAndKeepsTheHostsFromJustBeforeAsBackup) {
  for (const unsigned int lock : {0, FS_IMMUTABLE_FL, FS_APPEND_FL}) {
    SCOPED_TRACE(lock);
    Layout s;
    ::chmod(s.hosts.c_str(), 0444);
    ASSERT_TRUE(::geteuid() != 0 || ::chown(s.hosts.c_str(), kNobody, kNobody) == 0);
    const struct stat before = Stat(s.hosts);
    const auto flags = InodeFlags(s.hosts);
    if (lock != 0 && (!flags || !InodeFlags(s.hosts, *flags | lock))) {
      GTEST_SKIP() << "cannot set inode flags here (needs root and a file system that keeps them)";
    }
    s.Update();
    EXPECT_EQ(ReadFile(s.hosts), kNew);
    EXPECT_EQ(ReadFile(s.backup), kOld);
    EXPECT_EQ(ReadFile(s.merged), kNew);

    const std::string third = "# third\n# [Start of H_3.txt entries]\n127.0.0.1 localhost\n";
    WriteFile(s.merged, third);
    s.Update();
    EXPECT_EQ(ReadFile(s.hosts), third);
    EXPECT_EQ(ReadFile(s.backup), kNew);
    (void)DoHostUpdate(s.backup, s.hosts, s.log);  // installing the backup swaps the two
    EXPECT_EQ(ReadFile(s.hosts), kNew);
    EXPECT_EQ(ReadFile(s.backup), third);
    EXPECT_FALSE(Exists(s.log.path));
    EXPECT_EQ(Entries(s.etc), 2);
    const struct stat after = Stat(s.hosts);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    const auto locked = InodeFlags(s.hosts);
    if (lock != 0) InodeFlags(s.hosts, *flags);  // let the folder be removed
    EXPECT_EQ(locked.value_or(0) & lock, lock);
    EXPECT_EQ(InodeFlags(s.backup).value_or(0) & (FS_IMMUTABLE_FL | FS_APPEND_FL), 0u);
  }
}

TEST(HostUpdateTest, LeavesHostsAloneWhenAFileIsAbsentHiddenOrEmpty) {
  Layout s;
  WriteFile(s.backup, "older backup");
  WriteFile(s.dir.File(".M_Hosts.txt"), kNew);
  WriteFile(s.etc + "/.hosts", kOld);
  (void)DoHostUpdate(s.dir.File("missing.txt"), s.hosts, s.log);
  (void)DoHostUpdate("", s.hosts, s.log);
  (void)DoHostUpdate(s.dir.File(".M_Hosts.txt"), s.hosts, s.log);
  (void)DoHostUpdate(s.merged, s.etc + "/missing", s.log);
  (void)DoHostUpdate(s.merged, s.etc + "/.hosts", s.log);
  (void)DoHostUpdate(s.merged, "", s.log);
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.etc + "/.hosts"), kOld);
  EXPECT_EQ(ReadFile(s.backup), "older backup");
  EXPECT_EQ(Entries(s.etc), 3);
  EXPECT_FALSE(Exists(s.log.path));

  WriteFile(s.merged, "");  // reads as empty: never installed
  EXPECT_EQ(DoHostUpdate(s.merged, s.hosts, s.log).result, HostUpdateOutcome::Result::kNotRead);
  WriteFile(s.merged, std::string("0.0.0.0 a\n\0", 11));  // no hosts file holds a NUL byte
  EXPECT_EQ(InstallHostsBytes(ReadFile(s.merged), s.hosts, s.log).read_status,
            platform::ReadStatus::kNotText);
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.log.path),
            "Not a hosts file (NUL bytes), not installed: " + s.hosts + "\r\n");
}

// HOSTS as a link stays a link: the file it points to is replaced in its own folder and keeps
// its mode and lock; the backup lies beside the link. Nothing else is changed on the way.
TEST(HostUpdateTest, WritesThroughAHostsLinkToTheFileItNames) {
  Layout s;
  const std::string real_dir = s.dir.File("real");
  const std::string real = real_dir + "/hosts";
  std::filesystem::create_directories(real_dir);
  std::filesystem::rename(s.hosts, real);
  ::symlink("../real/hosts", s.hosts.c_str());
  ::chmod(real.c_str(), 0444);
  const auto flags = InodeFlags(real);
  const bool lockable = flags && InodeFlags(real, *flags | FS_IMMUTABLE_FL);
  const HostUpdateOutcome outcome = DoHostUpdate(s.merged, s.hosts, s.log);
  const auto locked = InodeFlags(real);
  if (lockable) InodeFlags(real, *flags);  // let the folder be removed
  EXPECT_EQ(outcome.result, HostUpdateOutcome::Result::kInstalled);
  EXPECT_TRUE(outcome.log_lines.empty());
  EXPECT_TRUE(std::filesystem::is_symlink(s.hosts));
  EXPECT_EQ(ReadFile(real), kNew);
  EXPECT_EQ(ReadFile(s.backup), kOld);
  EXPECT_EQ(Stat(real).st_mode & 07777, 0444u);
  EXPECT_EQ(locked.value_or(0) & FS_IMMUTABLE_FL, lockable ? FS_IMMUTABLE_FL : 0u);
  EXPECT_EQ(Entries(real_dir), 1);
  EXPECT_EQ(Entries(s.etc), 2);
}

TEST(HostUpdateTest, LogsWhatAnUnprivilegedUserCouldNotDo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as nobody against root's files";
  // Whether nobody owns the read-only hosts (and may rewrite it in place), the mode of etc,
  // which root owns (no new file there; sticky: no rename over root's), an older backup.
  for (const auto& [own_hosts, folder_mode, older_backup] :
       std::vector<std::tuple<bool, mode_t, bool>>{
           {true, 0555, false}, {false, 0755, false}, {false, 01777, true}}) {
    SCOPED_TRACE(folder_mode);
    Layout s;
    ::chown(s.dir.File("log").c_str(), kNobody, static_cast<gid_t>(-1));  // nobody's log
    if (older_backup) WriteFile(s.backup, "older backup");
    if (own_hosts) ::chown(s.hosts.c_str(), kNobody, static_cast<gid_t>(-1));
    ::chmod(s.hosts.c_str(), 0444);
    ::chmod(s.etc.c_str(), folder_mode);
    const ino_t inode = Stat(s.hosts).st_ino;
    ASSERT_TRUE(RunInChild(
        [&] {
          s.Update();
          return true;
        },
        true));
    EXPECT_EQ(ReadFile(s.hosts), own_hosts ? kNew : kOld);
    EXPECT_EQ(Stat(s.hosts).st_ino, inode);
    EXPECT_EQ(Stat(s.hosts).st_mode & 07777, 0444u);
    EXPECT_EQ(ReadFile(s.backup), older_backup ? "older backup" : "");
    EXPECT_EQ(Entries(s.etc), older_backup ? 2 : 1);
    EXPECT_EQ(ReadFile(s.log.path),
              (older_backup ? "Could not Kill " + s.backup : "Did not backup " + s.hosts) + "\r\n" +
                  (own_hosts ? "" : "Could not Kill " + s.hosts + "\r\n"));
  }
}

// The first hosts file the program did not write is kept beside it once and for good.
TEST(HostUpdateTest, KeepsTheFirstForeignHostsFileAsTheOriginalAndPutsItBack) {
  const std::string debian = "127.0.0.1\tlocalhost\n127.0.1.1\tbox7\n";
  Layout s;
  const std::string original = s.hosts + ".vellomar-original";
  WriteFile(s.hosts, debian);
  s.Update();
  EXPECT_EQ(ReadFile(original), debian);
  WriteFile(s.hosts, "# edited by hand after the install\n");
  s.Update();  // not ours any more, but an original is there: it stays
  EXPECT_EQ(ReadFile(original), debian);
  ASSERT_EQ(RestoreOriginal(s.hosts, s.log), RestoreOriginalResult::kRestored);
  EXPECT_EQ(ReadFile(s.hosts), debian);
  EXPECT_EQ(ReadFile(original), debian);
  EXPECT_EQ(ReadFile(s.backup), kNew);
  // Once more: it is there already, and the backup keeps the file it was replaced by.
  EXPECT_EQ(RestoreOriginal(s.hosts, s.log), RestoreOriginalResult::kAlreadyInPlace);
  EXPECT_EQ(ReadFile(s.backup), kNew);
  // Nothing at all is replaced at the original's name, not even a dangling link.
  ::unlink(original.c_str());
  ASSERT_EQ(::symlink("/nonexistent", original.c_str()), 0);
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), kNew);
  EXPECT_TRUE(std::filesystem::is_symlink(original));
  ::unlink(original.c_str());
  EXPECT_EQ(RestoreOriginal(s.hosts, s.log), RestoreOriginalResult::kFailed);
  EXPECT_EQ(ReadFile(s.hosts), kNew);
}

TEST(VerdictTest, NamesHostReadsActiveNamesInEitherLineEnd) {
  for (const auto le : {support::LineEnd::kLf, support::LineEnd::kCrLf}) {
    const std::string end(support::LineEndText(le));
    EXPECT_TRUE(NamesHost("127.0.0.1 localhost" + end + "127.0.1.1\tBox7.lan  box7 # me" + end,
                          "box7", le));
    EXPECT_FALSE(NamesHost("# 127.0.1.1 box7" + end + "127.0.1.1 # box7" + end, "box7", le));
    EXPECT_FALSE(NamesHost("box7 127.0.1.1" + end + "127.0.1.1 box77" + end, "box7", le));
    EXPECT_FALSE(NamesHost("127.0.1.1 box7", "", le));
  }
  // Under CR LF a bare LF is text, not a line end nor a blank: no word is "box7" here.
  EXPECT_FALSE(NamesHost("127.0.0.1 a\n127.0.1.1 box7\n", "box7", support::LineEnd::kCrLf));
  EXPECT_TRUE(NamesHost("127.0.0.1 a\n127.0.1.1 box7\r\n", "box7", support::LineEnd::kLf));
  EXPECT_FALSE(NamesHost("box7\r\nx", "box7", support::LineEnd::kCrLf));
}

TEST(VerdictTest, FailsUnlessVersionTextsAgreeAndTheBytesAreEqual) {
  TempDir dir;
  const std::string merged = dir.File("M_Hosts.txt"), hosts = dir.File("hosts");
  const std::string may = "Updated: 1 May";
  constexpr auto kSame = Sameness::kSame, kDifferent = Sameness::kDifferent;
  WriteFile(merged, kNew);
  WriteFile(hosts, kNew);
  EXPECT_EQ(JudgeInstall(may, may, merged, hosts), kSame);
  EXPECT_EQ(JudgeInstall("", may, merged, hosts), kSame);  // no version to compare: bytes decide
  EXPECT_EQ(JudgeInstall(may, "Updated: 2 May", merged, hosts), kDifferent);
  EXPECT_EQ(JudgeInstall(may, "updated: 1 May", merged, hosts), kDifferent);

  WriteFile(hosts, kNew.substr(0, kNew.size() - 1));  // a copy that lost its last LF
  EXPECT_EQ(JudgeInstall(may, may, merged, hosts), kDifferent);
  std::string flipped = kNew;
  flipped[flipped.size() / 2] ^= 1;  // same length, one bit off
  WriteFile(hosts, flipped);
  EXPECT_EQ(JudgeInstall("", "", merged, hosts), kDifferent);
  // Longer than one block of the comparison, differing only in the last one.
  const std::string big(200000, 'x');
  WriteFile(merged, big);
  WriteFile(hosts, big);
  EXPECT_EQ(CompareFiles(merged, hosts), kSame);
  WriteFile(hosts, big.substr(0, big.size() - 1) + "y");
  EXPECT_EQ(CompareFiles(merged, hosts), kDifferent);

  WriteFile(merged, "");  // an empty file equals an empty file, not a missing or hidden one
  WriteFile(hosts, "");
  EXPECT_EQ(JudgeInstall("", "", merged, hosts), kSame);
  std::filesystem::rename(hosts, dir.File(".hosts"));
  EXPECT_EQ(JudgeInstall("", "", merged, dir.File(".hosts")), kDifferent);
  EXPECT_EQ(JudgeInstall("", "", merged, hosts), kDifferent);
  EXPECT_EQ(JudgeInstall("", "", hosts, merged), kDifferent);
}

const std::string kDriver = VELLOMAR_HOST_UPDATE_DRIVER;

// The address sanitizer's runtime makes writes of its own at start-up, before the driver's.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kWrites = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kWrites = 2;
#else
constexpr int kWrites = 0;
#endif
#else
constexpr int kWrites = 0;
#endif
std::string Nth(int before, int n) { return std::to_string(before + n); }

TEST(HostUpdateFaultTest, EveryFaultLeavesTheOldOrTheWholeNewHosts) {
  if (::geteuid() != 0 || std::system("{ command -v unshare && command -v strace; } >/dev/null")) {
    GTEST_SKIP() << "needs root, unshare and strace";
  }
  // The driver (log lines end in LF) runs under strace in a private mount namespace after
  // `setup` ($H is hosts, $E etc, $O a copy of the old hosts, $S an empty folder). In a normal
  // run write 1 fills the backup's temporary file, write 2 the new hosts file's; fsync 1 flushes
  // the backup, 2 its folder, 3 the new hosts, 4 its folder (or the rewrite in place); rename 1
  // places the backup, 2 the hosts.
  struct Fault {
    std::string setup;
    std::vector<std::string> injections;  // strace -e inject= values
    bool new_hosts;                       // else the old hosts stays
    bool backup;                          // present, holding the old hosts
    std::vector<std::string> log;         // lines, each followed by the hosts path
    bool shorter = false;                 // the merged file is shorter than the old hosts
    bool damaged = false;                 // neither the old nor the new hosts: the log says so
  };
  const std::string full = "mount -t tmpfs -o size=8k tmpfs ";  // room for old hosts + backup
  const std::string bound = full + "$S; cp $O $S/hosts; mount --bind $S/hosts $H; ";
  const std::string busy = "renameat:error=EBUSY:when=2";  // as for a mount point
  const std::string copy = "Could not Copy to ";
  std::string big;  // more than the 8 KB file systems below can take
  while (big.size() < 20000) big += "0.0.0.0 ads" + std::to_string(big.size()) + ".x\r\n";
  const std::vector<Fault> faults = {
      {"mount --bind $O $H; ", {}, true, true, {}},  // a mount point: rewritten in place
      {full + "$E; cp $O $H; ", {}, false, true, {copy}},
      {bound, {}, false, true, {copy}},  // in place: the space reservation refuses
      {bound, {"fallocate:error=EOPNOTSUPP"}, false, true, {copy}},  // or a write fails
      {"", {"fsync:error=EIO"}, false, false, {"Did not backup ", copy}},
      {"", {"fsync:error=EIO:when=3"}, false, true, {copy}},
      {"", {"renameat:error=EACCES:when=2"}, false, true, {"Could not Kill "}},
      {"", {"write:signal=SIGKILL:when=" + Nth(kWrites, 1)}, false, false, {}},
      {"", {"write:signal=SIGKILL:when=" + Nth(kWrites, 2)}, false, true, {}},
      {"", {"fsync:signal=SIGKILL:when=4"}, true, true, {}},
      {"", {busy}, true, true, {}, true},  // the rewrite in place cuts off the old tail
      {"", {busy, "pwrite64:retval=1:when=1"}, false, true, {copy}},
      {"", {busy, "ftruncate:error=EIO"}, false, true, {copy}, true},
      {"", {busy, "fsync:error=EIO:when=4"}, false, true, {copy}},
      // The new bytes cannot be flushed, and the old ones cannot be written back over them.
      {"",
       {busy, "fsync:error=EIO:when=4", "pwrite64:error=EIO:when=2+"},
       false,
       true,
       {"HOSTS may be damaged: "},
       false,
       true},
  };
  for (const auto& fault : faults) {
    // The leak checker of a sanitized build cannot run under ptrace.
    std::string strace = "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null";
    for (const auto& injection : fault.injections) strace += " -e inject=" + injection;
    SCOPED_TRACE(fault.setup + strace);
    const std::string new_hosts = fault.shorter ? "# short\r\n" : big;
    Layout s(new_hosts);
    const std::string dir = s.dir.path() + "/";
    WriteFile(dir + "old", kOld);
    std::filesystem::create_directories(dir + "small");
    const std::string script =
        "H=" + s.hosts + " E=" + s.etc + " O=" + dir + "old S=" + dir + "small D=" + dir +
        " unshare -m /bin/sh -c 'set -e; mount --make-rprivate /; " + fault.setup + "set +e; { " +
        strace + " " + kDriver + " " + s.merged + " $H " + s.log.path + "; } 2>/dev/null; " +
        "echo $? > $D/status; cat $H > $D/seen; cat $H.ZRB > $D/bak 2>/dev/null; ls -A $E > "
        "$D/list'";
    ASSERT_EQ(std::system(script.c_str()), 0);
    const bool killed = strace.find("SIGKILL") != std::string::npos;
    EXPECT_EQ(ReadFile(dir + "status"), killed ? "137\n" : "0\n");
    const std::string seen = ReadFile(dir + "seen");
    if (fault.damaged) {
      EXPECT_TRUE(seen != kOld && seen != new_hosts);
    } else {
      EXPECT_TRUE(seen == (fault.new_hosts ? new_hosts : kOld));
    }
    EXPECT_EQ(ReadFile(dir + "bak"), fault.backup ? kOld : "");
    if (!killed) {  // no temporary file left
      EXPECT_EQ(ReadFile(dir + "list"), fault.backup ? "hosts\nhosts.ZRB\n" : "hosts\n");
    }
    std::string log;
    for (const auto& line : fault.log) log += line + s.hosts + "\n";
    EXPECT_EQ(ReadFile(s.log.path), log);
  }
}

// A kill while the lock of HOSTS is off leaves a note of it; the next start puts the lock and
// the mode back and removes the temporary file the killed run left.
TEST(HostUpdateFaultTest, AKilledInstallIsRepairedAtTheNextStart) {
  if (::geteuid() != 0 || std::system("command -v strace >/dev/null")) {
    GTEST_SKIP() << "needs root and strace";
  }
  Layout s;
  ::chmod(s.hosts.c_str(), 0444);
  const auto flags = InodeFlags(s.hosts);
  if (!flags || !InodeFlags(s.hosts, *flags | FS_IMMUTABLE_FL)) {
    GTEST_SKIP() << "cannot set inode flags here";
  }
  // Renames: 1 the backup, 2 the note of the cleared marks, 3 the new hosts file.
  const std::string run =
      "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e "
      "inject=renameat:signal=SIGKILL:when=3 " +
      kDriver + " " + s.merged + " " + s.hosts + " " + s.log.path + " 2>/dev/null";
  EXPECT_NE(std::system(run.c_str()), 0);
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(InodeFlags(s.hosts).value_or(0) & FS_IMMUTABLE_FL, 0u);  // the kill left it open
  EXPECT_EQ(Stat(s.hosts).st_mode & 07777, 0644u);
  EXPECT_EQ(Entries(s.etc), 4);  // hosts, backup, note, temporary file
  const std::string recover = kDriver + " --recover " + s.hosts + " " + s.log.path;
  EXPECT_EQ(std::system(recover.c_str()), 0);
  const auto locked = InodeFlags(s.hosts);
  InodeFlags(s.hosts, *flags);
  EXPECT_EQ(locked.value_or(0) & FS_IMMUTABLE_FL, FS_IMMUTABLE_FL);
  EXPECT_EQ(Stat(s.hosts).st_mode & 07777, 0444u);
  EXPECT_EQ(Entries(s.etc), 2);
  EXPECT_EQ(ReadFile(s.log.path), "Restored the marks of " + s.hosts + "\n");
  EXPECT_NE(std::system(recover.c_str()), 0);  // nothing more to do
}

}  // namespace
}  // namespace vellomar::install
