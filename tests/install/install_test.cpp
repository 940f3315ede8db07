#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <tuple>
#include <vector>

#include "common/test_util.h"
#include "install/entries.h"
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
  // Blocks this small put a block boundary inside every line and every marker.
  std::size_t block = 7;
  // Installs `file` as the programs do: read through its descriptor while it is copied.
  HostUpdateOutcome Update(const std::string& file) const {
    platform::ReadStatus status;
    platform::InputFile opened =
        support::OpenForReading(file, support::InstallReadOptions(), status);
    InstallWatch watch;
    watch.block = block;
    return InstallHostsFile(opened, hosts, log, watch);
  }
  HostUpdateOutcome Update() const { return Update(merged); }
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

    const std::string third = "# third\n# [Start of H_3.txt entries]\n127.0.0.1 localhost\n";
    WriteFile(s.merged, third);
    s.Update();
    EXPECT_EQ(ReadFile(s.hosts), third);
    EXPECT_EQ(ReadFile(s.backup), kNew);
    s.Update(s.backup);  // installing the backup swaps the two
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

// No hosts file is made where there was none (or only a hidden one); bytes that are no hosts
// file (none, or NUL bytes) are refused; either way nothing is touched.
TEST(HostUpdateTest, LeavesHostsAloneWithoutAHostsFileOrHostsText) {
  Layout s;
  WriteFile(s.etc + "/.hosts", kOld);
  for (const std::string& hosts : {s.etc + "/missing", s.etc + "/.hosts", std::string()}) {
    EXPECT_EQ(InstallHostsBytes(kNew, hosts, s.log).result,
              HostUpdateOutcome::Result::kNothingToDo);
  }
  EXPECT_EQ(InstallHostsBytes("", s.hosts, s.log).result, HostUpdateOutcome::Result::kNotRead);
  EXPECT_EQ(InstallHostsBytes(std::string("0.0.0.0 a\n\0", 11), s.hosts, s.log).read_status,
            platform::ReadStatus::kNotText);
  // Read through, a file is judged whole before anything is touched: a NUL in its last block,
  // or no bytes at all; the caller, who names the file, logs it.
  for (const auto& [bytes, block, why] :
       std::vector<std::tuple<std::string, std::size_t, platform::ReadStatus>>{
           {std::string("0.0.0.0 a\n\0", 11), 1, platform::ReadStatus::kNotText},
           {std::string("0.0.0.0 a\n\0", 11), 5, platform::ReadStatus::kNotText},
           {std::string("0.0.0.0 a\n\0", 11), 64, platform::ReadStatus::kNotText},
           {"", 7, platform::ReadStatus::kMissing}}) {
    WriteFile(s.merged, bytes);
    s.block = block;
    const HostUpdateOutcome outcome = s.Update();
    EXPECT_EQ(outcome.result, HostUpdateOutcome::Result::kNotRead);
    EXPECT_EQ(outcome.read_status, why) << block;
    EXPECT_TRUE(outcome.log_lines.empty());
  }
  EXPECT_EQ(ReadFile(s.hosts), kOld);
  EXPECT_EQ(ReadFile(s.etc + "/.hosts"), kOld);
  EXPECT_EQ(Entries(s.etc), 2);
  EXPECT_EQ(ReadFile(s.log.path),
            "Not a hosts file (NUL bytes), not installed: " + s.hosts + "\r\n");
}

// HOSTS as a link stays a link: the file it points to is replaced in its own folder and keeps
// its mode; the backup lies beside the link. Nothing else is changed on the way.
TEST(HostUpdateTest, WritesThroughAHostsLinkToTheFileItNames) {
  Layout s;
  const std::string real_dir = s.dir.File("real");
  const std::string real = real_dir + "/hosts";
  std::filesystem::create_directories(real_dir);
  std::filesystem::rename(s.hosts, real);
  ::symlink("../real/hosts", s.hosts.c_str());
  ::chmod(real.c_str(), 0444);
  const HostUpdateOutcome outcome = s.Update();
  EXPECT_EQ(outcome.result, HostUpdateOutcome::Result::kInstalled);
  EXPECT_TRUE(outcome.log_lines.empty());
  EXPECT_TRUE(std::filesystem::is_symlink(s.hosts));
  EXPECT_EQ(ReadFile(real), kNew);
  EXPECT_EQ(ReadFile(s.backup), kOld);
  EXPECT_EQ(Stat(real).st_mode & 07777, 0444u);
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

// NamesHost, checked to agree with the finder given the text in pieces of every small size.
bool NamesHost(const std::string& text, std::string_view name, support::LineEnd le) {
  const bool whole = install::NamesHost(text, name, le);
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    HostNameFinder finder(name, le);
    for (std::size_t at = 0; at < text.size(); at += piece) {
      finder.Add(std::string_view(text).substr(at, piece));
    }
    EXPECT_EQ(finder.Found(), whole) << piece << " " << ::testing::PrintToString(text);
  }
  return whole;
}

TEST(VerdictTest, NamesHostReadsActiveNamesInEitherLineEnd) {
  // Upper case, a longer word and a longer line around it, an unended last line.
  EXPECT_TRUE(
      NamesHost("127.0.1.1 xbox7 box7x BOX7.lan\n::1 a BoX7", "box7", support::LineEnd::kLf));
  EXPECT_FALSE(NamesHost("box7 xbox7 box77#box7\nbox7\t#\n", "box7", support::LineEnd::kLf));
  for (const auto le : {support::LineEnd::kLf, support::LineEnd::kCrLf}) {
    const std::string end(support::LineEndText(le));
    EXPECT_TRUE(
        NamesHost("127.0.0.1 a" + end + "127.0.1.1\tBox7.lan  box7 # me" + end, "box7", le));
    EXPECT_FALSE(NamesHost("# 127.0.1.1 box7" + end + "1.2.3.4 # box7" + end + "box7 127.0.1.1" +
                               end + "127.0.1.1 box77",
                           "box7", le));
  }
  EXPECT_FALSE(NamesHost("127.0.1.1 box7", "", support::LineEnd::kLf));
  // Under CR LF a bare LF is text, not a line end nor a blank: no word is "box7" here.
  EXPECT_FALSE(NamesHost("127.0.0.1 a\n127.0.1.1 box7\n", "box7", support::LineEnd::kCrLf));
  EXPECT_TRUE(NamesHost("127.0.0.1 a\n127.0.1.1 box7\r\n", "box7", support::LineEnd::kLf));
}

// Equal version texts (or none) leave it to the bytes, compared a block at a time: one bit,
// one byte at the end past the first block, a hidden or missing file all differ.
TEST(VerdictTest, FailsUnlessVersionTextsAgreeAndTheBytesAreEqual) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b"), may = "Updated: 1 May";
  const std::string big(200000, 'x');
  std::string flipped = kNew;
  flipped[flipped.size() / 2] ^= 1;
  for (const auto& [text_a, text_b, bytes_a, bytes_b, same] :
       std::vector<std::tuple<std::string, std::string, std::string, std::string, bool>>{
           {may, may, kNew, kNew, true},
           {"", may, kNew, kNew, true},
           {may, "Updated: 2 May", kNew, kNew, false},
           {may, may, kNew, kNew.substr(0, kNew.size() - 1), false},
           {"", "", kNew, flipped, false},
           {"", "", big, big, true},
           {"", "", big, big.substr(0, big.size() - 1) + "y", false},
           {"", "", "", "", true}}) {
    WriteFile(a, bytes_a);
    WriteFile(b, bytes_b);
    EXPECT_EQ(JudgeInstall(text_a, text_b, a, b), same ? Sameness::kSame : Sameness::kDifferent);
  }
  std::filesystem::rename(b, dir.File(".b"));
  EXPECT_EQ(JudgeInstall("", "", a, dir.File(".b")), Sameness::kDifferent);
  EXPECT_EQ(JudgeInstall("", "", a, b), Sameness::kDifferent);
  EXPECT_EQ(CompareFiles(b, a), Sameness::kDifferent);
}

// Compared a block at a time, at every size around the block: equal, the last byte differing,
// one a prefix of the other. "Same" has shown every byte of the file once, in order.
TEST(VerdictTest, ComparesAcrossBlockBoundaries) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  for (const std::size_t block : {1, 4, 7}) {
    for (std::size_t size = 0; size <= 3 * block + 1; ++size) {
      std::string text;
      for (std::size_t i = 0; i < size; ++i) text += static_cast<char>('a' + i % 23);
      std::string last = text;
      if (size > 0) last.back() ^= 1;
      for (const auto& [other, same] : std::vector<std::pair<std::string, bool>>{
               {text, true},
               {last, size == 0},
               {text + "x", false},
               {text.substr(0, size - (size > 0)), size == 0}}) {
        SCOPED_TRACE(block);
        SCOPED_TRACE(other);
        WriteFile(a, text);
        WriteFile(b, other);
        std::string seen;
        CompareOptions options;
        options.block = block;
        options.on_same_block = [&](std::string_view part) { seen += part; };
        EXPECT_EQ(CompareFiles(a, b, options), same ? Sameness::kSame : Sameness::kDifferent);
        EXPECT_EQ(CompareFiles(b, a, options), same ? Sameness::kSame : Sameness::kDifferent);
        if (same) {
          EXPECT_EQ(seen, text + text);
        }
      }
    }
  }
}

// Files equal apart from the header's creation date are the same; any other change, a creation
// date outside the dated lines the header reader reads, or a line end differs.
TEST(VerdictTest, OnlyTheCreationDateMayDiffer) {
  TempDir dir;
  const std::string created = "# ------- Created: 01/12/2026 -------\n";
  const std::string head = "# h\n# ------- Updated: 2026 -------\n";
  const std::string body = "0.0.0.0 a.example\n";
  const std::string long_line = std::string(70000, 'x') + "\n";
  const std::string dated = "# ------- Updated: x -------\n";
  for (const auto& [a, b, same] : std::vector<std::tuple<std::string, std::string, bool>>{
           {head + created + body, head + created + body, true},
           {head + created + body, head + "# ------- Created: 07/12/2026 -------\n" + body, true},
           {head + created + body, head + "# ------- Created: x -------\r\n" + body, true},
           {head + created + body, head + created + "0.0.0.0 b.example\n", false},
           {head + created + body, head + created + body + "\n", false},
           {head + created + body, head + created + "0.0.0.0 a.example\r\n", false},
           {head + created + body, head + "# ------- Updated: 2027 -------\n" + body, false},
           {head + created, head + "# Created: 07/12/2026\n", false},
           {dated + dated + dated + dated + created,
            dated + dated + dated + dated +
                "# ------- "
                "Created: y -------\n",
            false},
           {long_line + body, long_line + body, true},
           {long_line + body, std::string(70000, 'x') + "y\n" + body, false}}) {
    WriteFile(dir.File("a"), a);
    WriteFile(dir.File("b"), b);
    EXPECT_EQ(CompareApartFromCreated(dir.File("a"), dir.File("b")),
              same ? Sameness::kSame : Sameness::kDifferent)
        << a.substr(0, 80) << " | " << b.substr(0, 80);
  }
  EXPECT_EQ(CompareApartFromCreated(dir.File("a"), dir.File("missing")), Sameness::kDifferent);
}

// Entries of the user's own: any address but the block and loopback ones, without the lines
// every system writes; comments and lines without an address count for nothing.
TEST(OwnEntriesTest, TellsTheUsersEntriesFromTheSystemsAndFindsThoseANewFileLacks) {
  TempDir dir;
  for (const auto& [line, own] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"192.168.1.10\tnas nas.lan # the box", {"192.168.1.10 nas", "192.168.1.10 nas.lan"}},
           {"  10.0.0.1 intranet", {"10.0.0.1 intranet"}},
           {"2001:db8::5 v6.example", {"2001:db8::5 v6.example"}},
           {"0.0.0.0 ads.example", {}},
           {"127.0.0.1 localhost mine", {}},
           {"::1 localhost ip6-localhost", {}},
           {":: any.example", {}},
           {"127.0.1.1 myhost.lan myhost", {}},
           {"ff02::1 ip6-allnodes", {}},
           {"FF02::2 ip6-allrouters", {}},
           {"fe00::0 ip6-localnet", {}},
           {"ff00::0 ip6-mcastprefix", {}},
           {"ff02::1 printer.lan", {"ff02::1 printer.lan"}},
           {"# 10.0.0.2 commented", {}},
           {"10.0.0", {}},
           {"nas 10.0.0.3", {}},
           {"10.0.0.4", {}}}) {
    WriteFile(dir.File("hosts"), line + "\n10.0.0.1 intranet\n");
    const OwnEntries read = ReadOwnEntries(dir.File("hosts"));
    std::vector<std::string> got;
    for (const auto& entry : read.entries) got.push_back(entry.address + " " + entry.name);
    std::vector<std::string> expected = own;
    if (std::find(expected.begin(), expected.end(), "10.0.0.1 intranet") == expected.end()) {
      expected.push_back("10.0.0.1 intranet");
    }
    EXPECT_EQ(got, expected) << line;
    EXPECT_FALSE(read.has_start_marker);
  }
  WriteFile(dir.File("hosts"), "10.0.0.1 a b c\n# [Start of H_X.txt entries]\n");
  const OwnEntries own = ReadOwnEntries(dir.File("hosts"));
  EXPECT_TRUE(own.has_start_marker);
  // The same name at another address, or in a comment, keeps nothing; case does not matter.
  WriteFile(dir.File("new"), "10.0.0.2 a\n# 10.0.0.1 b\n10.0.0.1 x C\n");
  const auto missing = EntriesMissingFrom(own.entries, dir.File("new"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(*missing, (std::vector<HostEntry>{{"10.0.0.1", "a"}, {"10.0.0.1", "b"}}));
  EXPECT_FALSE(EntriesMissingFrom(own.entries, dir.File("none")));
}

// The names each source adds and takes away, the header's included; a source only one file has
// counts all its names; lists are cut at the number asked for.
TEST(SectionsTest, CountsAndListsTheNamesEachSourceChanges) {
  TempDir dir;
  const auto block = [](const std::string& name, const std::string& lines) {
    return "# [Start of " + name + " entries]\n" + lines + "# [End of " + name +
           " entries]\n# ***#\n\n";
  };
  WriteFile(dir.File("old"),
            "127.0.0.1 localhost\n" + block("H_A.txt", "0.0.0.0 a1 a2\n0.0.0.0 a3\n") +
                block("H_Gone.txt", "0.0.0.0 g1\n") + block("H_Same.txt", "0.0.0.0 s1\n"));
  WriteFile(dir.File("new"), "127.0.0.1 localhost\n10.0.0.1 nas\n" +
                                 block("H_A.txt", "0.0.0.0 A1 a4 a5 a6\n# 0.0.0.0 a7\n") +
                                 block("H_Same.txt", "127.0.0.1 s1\n") +
                                 block("H_New.txt", "0.0.0.0 n1 n1\n"));
  const auto changes = CompareSections(dir.File("new"), dir.File("old"), 2);
  ASSERT_TRUE(changes);
  std::vector<std::string> said;
  for (const auto& change : *changes) {
    said.push_back(change.source + " +" + std::to_string(change.added) + " -" +
                   std::to_string(change.removed));
    for (const auto& name : change.added_names) said.back() += " +" + name;
    for (const auto& name : change.removed_names) said.back() += " -" + name;
  }
  EXPECT_EQ(said, (std::vector<std::string>{" +1 -0 +nas", "H_A.txt +3 -2 +a4 +a5 -a2 -a3",
                                            "H_New.txt +1 -0 +n1", "H_Gone.txt +0 -1 -g1"}));
  EXPECT_FALSE(CompareSections(dir.File("new"), dir.File("none"), 2));
}

}  // namespace
}  // namespace vellomar::install
