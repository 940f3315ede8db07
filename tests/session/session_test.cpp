// The rules of a run, without a window: selection, re-ticking, merge outcomes, the verdict.
#include "session/session.h"

#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_util.h"
#include "install/privileged.h"
#include "view/status_text.h"

namespace vellomar::session {
namespace {

using namespace vellomar::testing;  // TempDir, WriteFile, ReadFile, Exists
using V = std::vector<std::string>;

// What the status line says.
std::string Text(const Session& s) { return view::StatusText(s.Information()); }

std::string Header(const std::string& updated) {
  return "# Sample header\n# ------- Updated: " + updated +
         " -------\n# ------- Created: #CREATEDDATE# -------\n127.0.0.1 localhost\n::1 "
         "localhost\n";
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    std::filesystem::create_directory(program.File("Hostfiles"));
    Source("H_0Header.txt", Header("2026-12-01"));
    Source("H_1mvps.txt", "0.0.0.0 a.example\n127.0.0.1 localhost\n");
    Source("H_2Header.txt", "# second header\n");
    Source("H_3mvps.txt", "127.0.0.1 b.example\n");
    Source("H_4plain.txt", "0.0.0.0 c.example");
    WriteFile(system.File("hosts"), "# hosts before\n127.0.0.1 localhost\n");
    WriteFile(system.File("resolvectl"), "#!/bin/sh\n");
  }
  Environment Env() {
    Environment env;
    env.program_folder = program.path();
    env.program_name = "vellomar";
    env.hosts_candidates = {system.File("missing"), system.File("hosts")};
    env.resolver_candidates = {system.File("resolvectl")};
    env.line_end = support::LineEnd::kLf;
    env.os = platform::OsFamily::kPosix;
    env.clock = [this] {
      ++merges;
      return std::string("07/12/2026 01:02:03");
    };
    env.is_admin = [] { return true; };
    env.launcher = &launcher;
    env.install_lock.folder = locks.path();
    return env;
  }
  // The start-up of the window, without the window.
  Session& Load() {
    session = std::make_unique<Session>(Env());
    session->StartUp();
    return *session;
  }
  void Source(const std::string& name, const std::string& bytes) {
    WriteFile(program.File("Hostfiles/" + name), bytes);
  }
  V Ticked() const {
    V names;
    for (const auto& entry : session->Entries()) {
      if (entry.ticked) names.push_back(entry.name);
    }
    return names;
  }
  void TickOnly(const std::vector<std::size_t>& indexes) {
    for (std::size_t i = 0; i < session->Entries().size(); ++i) session->SetTickedQuietly(i, false);
    for (std::size_t i : indexes) session->SetTickedQuietly(i, true);
  }
  std::string Merged() const { return ReadFile(program.File("M_Hosts.txt")); }

  TempDir program;
  TempDir system;
  TempDir locks;
  RecordingLauncher launcher;
  int merges = 0;
  std::unique_ptr<Session> session;
};

TEST_F(SessionTest, StartUpProbesListsAndMergesWithTheInstalledSourcesTicked) {
  WriteFile(system.File("hosts"),
            "# [Start of H_4plain.txt entries]\n# [Start of H_9gone.txt,H_1mvps.txt entries]\n");
  Session& s = Load();
  EXPECT_EQ(s.HostsFilePath(), system.File("hosts"));
  EXPECT_EQ(s.ResolverToolPath(), system.File("resolvectl"));
  EXPECT_EQ(s.EditorPath(), "");
  EXPECT_EQ(s.MergedFilePath(), program.File("M_Hosts.txt"));
  EXPECT_EQ(s.SourceFolder(), program.File("Hostfiles"));
  // The first entry's tick merges once; the installed names tick without merging; the mode
  // change and the last step merge the whole selection.
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt", "H_4plain.txt"}));
  EXPECT_EQ(merges, 3);
  EXPECT_EQ(s.Mode(), merge::AddressMode::kUse0000);
  EXPECT_EQ(Text(s), "Admin User");
  const std::string separator = "# " + std::string(57, '*') + "#\n\n";
  EXPECT_EQ(Merged(),
            "# Sample header\n# ------- Updated: 2026-12-01 -------\n# ------- Created: "
            "07/12/2026 01:02:03 -------\n127.0.0.1 localhost\n::1 localhost\n\n"
            "# [Start of H_1mvps.txt entries]\n0.0.0.0 a.example\n# 127.0.0.1 localhost\n\n"
            "# [End of H_1mvps.txt entries]\n" +
                separator +
                "# [Start of H_4plain.txt entries]\n0.0.0.0 c.example\n"
                "# [End of H_4plain.txt entries]\n" +
                separator);

  // A refill ticks the first entry again and starts just one merge.
  TickOnly({});
  merges = 0;
  s.ListAndTickSources();
  EXPECT_EQ(merges, 1);
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt", "H_4plain.txt"}));
}

TEST_F(SessionTest, MergeRefusalsLeaveTheFileAndTicksAlone) {
  Session& s = Load();
  const std::string before = Merged();
  TickOnly({});
  EXPECT_EQ(s.MergeTickedEntries(), MergeResult::kNoSelection);
  EXPECT_EQ(Text(s), "You must select at least one");
  EXPECT_EQ(s.Information().tone, Tone::kWarning);
  TickOnly({1, 2});  // a header further down does not help
  EXPECT_EQ(s.MergeTickedEntries(), MergeResult::kNoHeader);
  EXPECT_EQ(Text(s), "You must select a Header file");
  EXPECT_EQ(Merged(), before);
  EXPECT_EQ(Ticked(), (V{"H_1mvps.txt", "H_2Header.txt"}));
}

TEST_F(SessionTest, ASecondHeaderOrMvpsEntryLosesItsTickWithoutANestedMerge) {
  Session& s = Load();
  for (const bool by_click : {true, false}) {
    SCOPED_TRACE(by_click);
    TickOnly({0, 1, 2, 3});
    merges = 0;
    EXPECT_EQ(by_click ? (s.OnSelectionChanged(), MergeResult::kMerged) : s.MergeTickedEntries(),
              MergeResult::kMerged);
    EXPECT_EQ(merges, 1);
    EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt"}));
    EXPECT_EQ(Merged().find("second header"), std::string::npos);
    EXPECT_EQ(Merged().find("b.example"), std::string::npos);
  }
}

TEST_F(SessionTest, TicksAndModeChangesMergeOnceEachAndTheModeRewritesAddresses) {
  Session& s = Load();
  TickOnly({0, 3});
  merges = 0;
  s.SetTicked(4, true);
  s.SetTicked(4, true);  // no change, no merge
  EXPECT_EQ(merges, 1);
  EXPECT_NE(Merged().find("\n0.0.0.0 b.example\n"), std::string::npos);
  s.SetMode(merge::AddressMode::kUse127);
  s.SetMode(merge::AddressMode::kUse127);
  EXPECT_EQ(merges, 2);
  EXPECT_NE(Merged().find("\n127.0.0.1 c.example\n# [End of H_4plain.txt entries]"),
            std::string::npos);
  s.SetMode(merge::AddressMode::kNoChange);
  EXPECT_NE(Merged().find("\n0.0.0.0 c.example\n"), std::string::npos);
  EXPECT_NE(Merged().find("\n127.0.0.1 b.example\n"), std::string::npos);
}

TEST_F(SessionTest, VersionSidesCompareTheDatedLines) {
  Session& s = Load();
  // The merged file carries the header's dates; the installed one has none.
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_FALSE(s.VersionsMatch());
  EXPECT_EQ(s.MergedUpdated(), "2026-12-01");
  EXPECT_EQ(s.CurrentUpdated(), "Missing or non MVPS HOSTS File");
  WriteFile(system.File("hosts"), Merged());
  s.RefreshVersions(Sides::kBoth);
  EXPECT_TRUE(s.VersionsMatch());
  EXPECT_EQ(s.MergedSide().tone, Tone::kNeutral);
  EXPECT_EQ(s.CurrentSide().version_text, s.MergedSide().version_text);
  EXPECT_EQ(s.CurrentSide().summary, "7 Lines - len: 136");
  // No dated lines on either side: the two default texts still differ.
  WriteFile(program.File("M_Hosts.txt"), std::string(120, '#'));
  WriteFile(system.File("hosts"), std::string(120, '#'));
  s.RefreshVersions(Sides::kBoth);
  EXPECT_EQ(s.MergedUpdated(), "Missing or non ZR HOSTS File");
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  // A file under 100 bytes is not read: empty text, the summary kept, the merged side yellow.
  WriteFile(program.File("M_Hosts.txt"), "short\n");
  s.RefreshVersions(Sides::kMerged);
  EXPECT_EQ(s.MergedSide().version_text, "");
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_FALSE(s.MergedSide().summary.empty());
}

TEST_F(SessionTest, TheVerdictComesFromTheValuesAndTheBytes) {
  Session& s = Load();
  launcher.records.clear();
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kInstalled);
  EXPECT_EQ(ReadFile(system.File("hosts")), Merged());
  EXPECT_EQ(ReadFile(system.File("hosts.ZRB")), "# hosts before\n127.0.0.1 localhost\n");
  EXPECT_EQ(s.Information().tone, Tone::kSuccess);
  EXPECT_EQ(Text(s), "Done 7 Lines - len: 136 - Copied to HOSTS");
  ASSERT_EQ(launcher.records.size(), 1u);  // the flush
  EXPECT_EQ(launcher.records[0].argv, (V{system.File("resolvectl"), "flush-caches"}));

  // The same dated lines but other bytes: still a failure, with both boxes yellow.
  WriteFile(system.File("hosts"), Merged() + "# edited by hand\n");
  s.RefreshVersions(Sides::kBoth);
  EXPECT_EQ(s.JudgeInstall(true), Verdict::kFailed);
  EXPECT_EQ(Text(s), "You may need to run as Administrator HOSTS Write Failed");
  EXPECT_EQ(s.Information().tone, Tone::kFailure);
  EXPECT_EQ(s.CurrentSide().tone, Tone::kWarning);
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_EQ(launcher.records.size(), 1u);  // no flush after a failure
}

// The file of a refused or failed merge is an older one: it is never installed as current.
TEST_F(SessionTest, NothingIsInstalledAfterARefusedOrFailedMerge) {
  Session& s = Load();
  const std::string hosts = ReadFile(system.File("hosts"));
  TickOnly({1});
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kFailed);
  EXPECT_EQ(Text(s), "You must select a Header file - HOSTS not written");
  EXPECT_EQ(s.Information().tone, Tone::kFailure);
  EXPECT_EQ(s.InstallMerged(true), Verdict::kFailed);
  EXPECT_EQ(ReadFile(system.File("hosts")), hosts);
  EXPECT_FALSE(Exists(system.File("hosts.ZRB")));

#ifndef _WIN32  // no file size limit per process
  // A merge that cannot be written (here: past the file size limit) says so and logs it.
  TickOnly({0, 4});
  Source("H_4plain.txt", std::string(200000, '#'));
  EXPECT_TRUE(RunInChild([&] {
    return LimitFileSize(100000) && s.MergeTickedEntries() == MergeResult::kNotWritten &&
           Text(s) == "Merge failed: could not write M_Hosts.txt" &&
           s.Information().tone == Tone::kFailure && s.MergeAndInstall(false) == Verdict::kFailed;
  }));
  EXPECT_EQ(ReadFile(system.File("hosts")), hosts);
  EXPECT_NE(ReadFile(program.File("vellomar_Log.txt"))
                .find("Could not Write " + program.File("M_Hosts.txt")),
            std::string::npos);
#endif
}

// A source that cannot be read safely is named and left out, never merged as an empty block;
// a link to a regular file is followed. A merge that left out a ticked source is not installed.
TEST_F(SessionTest, ASourceThatCannotBeReadIsReportedAndNothingIsInstalled) {
#ifdef _WIN32
  GTEST_SKIP() << "needs symbolic links among the sources";
#else
  Session& s = Load();
  WriteFile(system.File("list"), "0.0.0.0 linked.example\n");
  ::symlink(system.File("list").c_str(), program.File("Hostfiles/H_5link.txt").c_str());
  Source("H_6nul.txt", std::string("0.0.0.0 nul.example\0\n", 22));
  s.ListSources();
  for (const char* name : {"H_0Header.txt", "H_4plain.txt", "H_5link.txt", "H_6nul.txt"}) {
    ASSERT_TRUE(s.FindEntry(name)) << name;
    s.SetTickedQuietly(*s.FindEntry(name), true);
  }
  const std::string hosts = ReadFile(system.File("hosts"));
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
  EXPECT_EQ(s.Information().tone, Tone::kFailure);
  EXPECT_NE(
      Text(s).find(
          " - not merged: H_6nul.txt (holds NUL bytes: not a hosts file) - HOSTS not written"),
      std::string::npos)
      << Text(s);
  EXPECT_EQ(ReadFile(system.File("hosts")), hosts);
  EXPECT_EQ(Merged().find("nul.example"), std::string::npos);
  EXPECT_NE(Merged().find("linked.example"), std::string::npos);
  EXPECT_NE(Merged().find("c.example"), std::string::npos);
  EXPECT_NE(ReadFile(program.File("vellomar_Log.txt"))
                .find("Could not Read " + program.File("Hostfiles/H_6nul.txt")),
            std::string::npos);
#endif
}

// The merged file is read once, never through a link at its name, and only hosts text is
// installed: a link there (to a root-only file, say) installs nothing of what it names.
TEST_F(SessionTest, TheInstallReadsTheMergedFileItselfAndOnlyHostsText) {
#ifdef _WIN32
  GTEST_SKIP() << "needs symbolic links";
#else
  Session& s = Load();
  const std::string hosts = ReadFile(system.File("hosts"));
  WriteFile(system.File("shadow"), "root:secret\n");
  ::unlink(program.File("M_Hosts.txt").c_str());
  ::symlink(system.File("shadow").c_str(), program.File("M_Hosts.txt").c_str());
  EXPECT_EQ(s.InstallFile(program.File("M_Hosts.txt")),
            (V{"Could not Find " + program.File("M_Hosts.txt")}));
  EXPECT_EQ(s.LastInstall(), install::HostUpdateOutcome::Result::kNotRead);
  ::unlink(program.File("M_Hosts.txt").c_str());
  WriteFile(program.File("M_Hosts.txt"), std::string("0.0.0.0 a\0", 11));
  EXPECT_EQ(s.InstallFile(program.File("M_Hosts.txt")),
            (V{"Not a hosts file (NUL bytes), not installed: " + program.File("M_Hosts.txt")}));
  EXPECT_EQ(ReadFile(system.File("hosts")), hosts);
  EXPECT_FALSE(Exists(system.File("hosts.ZRB")));
#endif
}

// As root, nothing is written in a program folder that other users can change.
TEST_F(SessionTest, RootWritesNothingInAFolderOthersCanChange) {
#ifdef _WIN32
  GTEST_SKIP() << "needs root and file modes";
#else
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  ::chmod(program.path().c_str(), 0777);
  Session& s = Load();
  EXPECT_EQ(Text(s),
            "Other users can change " + program.path() + ": nothing is written there as root");
  EXPECT_EQ(s.Information().tone, Tone::kFailure);
  EXPECT_FALSE(Exists(program.File("M_Hosts.txt")));
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
  EXPECT_EQ(ReadFile(system.File("hosts")), "# hosts before\n127.0.0.1 localhost\n");
  EXPECT_FALSE(s.StartCacheCapture());
  EXPECT_FALSE(Exists(program.File("displaydns.txt")) || Exists(program.File("vellomar_Log.txt")));
#endif
}

// Names a start marker cannot give back are not listed, and a missing folder lists nothing;
// both are said rather than dropping sources silently at the next start-up.
TEST_F(SessionTest, NamesTheMarkersCannotHoldAndAMissingFolderAreSaid) {
  Source("H_a,b.txt", "0.0.0.0 ab.example\n");
  Source("H_x entries].txt", "0.0.0.0 x.example\n");
  Session& s = Load();
  EXPECT_FALSE(s.FindEntry("H_a,b.txt") || s.FindEntry("H_x entries].txt"));
  EXPECT_EQ(s.Entries().size(), 5u);
  const std::string notice =
      "Not listed, as a start marker cannot hold \",\" or \" entries]\": H_a,b.txt, H_x "
      "entries].txt";
  EXPECT_EQ(view::AddendumText(*s.ListingNotice()), notice);
  EXPECT_EQ(Text(s), "Admin User - " + notice);
  EXPECT_EQ(s.Information().tone, Tone::kFailure);
  // Said, not logged: every start would log it again.
  EXPECT_EQ(ReadFile(program.File("vellomar_Log.txt")).find("Not listed"), std::string::npos);

  ::rename(program.File("Hostfiles").c_str(), program.File("Moved").c_str());
  ::chdir(program.File("Moved").c_str());  // never the process's own folder instead
  s.ListAndTickSources();
  EXPECT_TRUE(s.Entries().empty());
  EXPECT_EQ(view::AddendumText(*s.ListingNotice()),
            "No source folder " + program.File("Hostfiles"));
  // A program folder that cannot be named is refused, and the current folder (which holds a
  // source folder here) never stands in for it.
  ::chdir(program.path().c_str());
  ::rename(program.File("Moved").c_str(), program.File("Hostfiles").c_str());
  Environment unnamed = Env();
  unnamed.program_folder.clear();
  Session lost(unnamed);
  lost.ProbePaths();
  lost.ListSources();
  EXPECT_EQ(view::StatusText(*lost.FolderProblem()),
            "The folder of this program cannot be named: nothing is read or written");
  EXPECT_TRUE(lost.Entries().empty());
  EXPECT_EQ(lost.MergedFilePath(), "");
  ::chdir("/");
}

// A launcher whose programs never start.
class DeadLauncher : public platform::Launcher {
 public:
  bool Start(const std::vector<std::string>&, platform::WindowStyle, const std::string&) override {
    return false;
  }
  bool ShellOpen(const std::string&) override { return false; }
};

TEST_F(SessionTest, ProgramsThatDoNotStartAreSaid) {
  DeadLauncher dead;
  Environment env = Env();
  env.launcher = &dead;
  env.editor_candidates = {system.File("resolvectl")};
  Session s(env);
  s.ProbePaths();
  s.ListSources();
  s.SetTickedQuietly(0, true);
  ASSERT_EQ(s.MergeTickedEntries(), MergeResult::kMerged);
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kInstalled);
  EXPECT_EQ(s.Information().tone, Tone::kSuccess);
  EXPECT_EQ(Text(s), "Done 7 Lines - len: 136 - Copied to HOSTS - but " +
                         system.File("resolvectl") + " could not flush the cache");
  const std::vector<std::pair<std::function<void()>, std::string>> steps = {
      {[&] { s.FlushResolverCache(); },
       "Could not start " + system.File("resolvectl") + " to flush the DNS cache"},
      {[&] { s.StopDnsService(); }, "Could not start systemctl to stop the DNS cache service"},
      {[&] { s.StartDnsService(); }, "Could not start systemctl to start the DNS cache service"},
      {[&] { s.ShellOpen("https://example.org/"); },
       "Could not open https://example.org/ (is xdg-open installed?)"},
      {[&] { s.OpenInEditor(s.MergedFilePath()); }, "Could not start " + system.File("resolvectl")},
  };
  for (const auto& [step, says] : steps) {
    s.AddNote("");
    step();
    EXPECT_EQ(Text(s), says);
    EXPECT_EQ(s.Information().tone, Tone::kFailure);
  }
  s.SetResolverToolPath("");
  EXPECT_FALSE(s.FlushResolverCache());
  EXPECT_EQ(Text(s), "No DNS cache tool: install systemd-resolved (it brings resolvectl) to flush");
}

TEST_F(SessionTest, InstallAndRestoreReportWhatTheyLogged) {
  Session& s = Load();
  EXPECT_TRUE(s.InstallFile(program.File("M_Hosts.txt")).empty());
  std::vector<std::string> logged;
  ASSERT_TRUE(s.RestoreBackup(logged));
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(ReadFile(system.File("hosts")), "# hosts before\n127.0.0.1 localhost\n");
  EXPECT_EQ(ReadFile(system.File("hosts.ZRB")), Merged());  // the replaced file is kept

  ::unlink(system.File("hosts.ZRB").c_str());
  EXPECT_FALSE(s.RestoreBackup(logged));
  EXPECT_EQ(logged, (V{"Could not Find " + system.File("hosts.ZRB")}));
  EXPECT_EQ(ReadFile(system.File("hosts")), "# hosts before\n127.0.0.1 localhost\n");
  EXPECT_EQ(ReadFile(program.File("vellomar_Log.txt")),
            "Could not Find " + system.File("hosts.ZRB") + "\n");
}

// An install waits while another process installs over the same hosts file, and gives up
// with a log line rather than interleaving when the other never finishes.
TEST_F(SessionTest, InstallsOverOneHostsFileTakeTurns) {
#ifdef _WIN32
  GTEST_SKIP() << "forks the other installer; windows_platform_test takes the install lock twice";
#else
  Session& s = Load();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const auto lock = platform::LockInstalls(system.File("hosts"), 1000, locks.path());
    char byte = lock ? 1 : 0;
    [[maybe_unused]] auto n = ::write(ready[1], &byte, 1);
    ::usleep(700000);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);
  EXPECT_FALSE(platform::LockInstalls(system.File("hosts"), 100, locks.path()));
  // Waits for the holder, then installs.
  EXPECT_TRUE(s.InstallFile(program.File("M_Hosts.txt")).empty());
  EXPECT_EQ(ReadFile(system.File("hosts")), Merged());
  int status = 0;
  ::waitpid(holder, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
#endif
}

// pkexec as the session sees it through the launcher: records what it was asked to run and,
// unless it plays a refused authentication, runs the helper's install over the test's hosts.
class FakePkexec final : public DeadLauncher {
 public:
  explicit FakePkexec(std::string hosts) : hosts_(std::move(hosts)) {}
  platform::RunResult RunPrivileged(const std::vector<std::string>& argv,
                                    std::string_view input) override {
    runs.push_back(argv);
    if (refuse != 0) return {true, false, refuse, {}, says};
    std::vector<std::string> lines;
    const auto status = install::RunHelperInstall(input, hosts_, lines);
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return {true, false, static_cast<int>(status), {}, text};
  }
  std::vector<V> runs;
  int refuse = 0;
  std::string says;  // pkexec's message when it refuses

 private:
  std::string hosts_;
};

TEST_F(SessionTest, WithoutRootTheInstallGoesThroughPkexecAndACancelIsNoWriteFailure) {
  FakePkexec pkexec(system.File("hosts"));
  const V command{"/usr/bin/pkexec", "/usr/libexec/vellomar/vellomar-install-helper"};
  Environment env = Env();
  env.is_admin = [] { return false; };
  env.launcher = &pkexec;
  env.privileged_install = command;
  env.host_name = [] { return std::string("Box7"); };
  Source("H_0Header.txt", "# [Header]\n127.0.1.1 #HOSTNAME#\n");
  WriteFile(system.File("hosts"), "127.0.1.1 box7\n");
  session = std::make_unique<Session>(env);
  Session& s = *session;
  s.StartUp();
  EXPECT_EQ(Text(s), "Writing HOSTS will ask for an administrator password");
  EXPECT_EQ(s.Information().tone, Tone::kNeutral);
  EXPECT_EQ(Merged(), "# [Header]\n127.0.1.1 Box7\n\n");

  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
  EXPECT_EQ(pkexec.runs, (std::vector<V>{command}));
  EXPECT_EQ(ReadFile(system.File("hosts")), Merged());
  EXPECT_EQ(ReadFile(system.File("hosts.ZRB")), "127.0.1.1 box7\n");
  EXPECT_EQ(ReadFile(system.File("hosts.vellomar-original")), "127.0.1.1 box7\n");
  EXPECT_EQ(s.Information().tone, Tone::kSuccess);
  EXPECT_TRUE(s.MissingHostName().empty());

  // A header without the machine's name: installed all the same, with the warning.
  Source("H_0Header.txt", "# [Header] only\n");
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
  EXPECT_NE(Text(s).find(" - Copied to HOSTS - the new HOSTS does not name this "
                         "machine (Box7)"),
            std::string::npos)
      << Text(s);

  // pkexec's refusals, told apart by its status and its words: nothing written, no write
  // failure said.
  const std::string pkexec_error = "Error executing command as another user: ";
  for (const auto& [status, message, said, tone] :
       std::vector<std::tuple<int, std::string, std::string, Tone>>{
           {126, pkexec_error + "Request dismissed", "Administrator authentication cancelled",
            Tone::kWarning},
           {127, pkexec_error + "Not authorized\n\nThis incident has been reported.",
            "Not authorized by polkit to write HOSTS", Tone::kFailure},
           {127, pkexec_error + "No authentication agent found.",
            "No polkit authentication agent runs to ask for the password", Tone::kFailure},
           {127, "Error getting authority: Error initializing authority: Could not connect",
            "The polkit daemon could not be asked (is polkitd running?)", Tone::kFailure},
           {127, "pkexec: something else", "pkexec could not run the install helper",
            Tone::kFailure}}) {
    pkexec.refuse = status;
    pkexec.says = message;
    Source("H_0Header.txt", "# [Header] again\n");
    EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
    EXPECT_EQ(Text(s), said + " - HOSTS not written");
    EXPECT_EQ(s.Information().tone, tone);
    EXPECT_EQ(ReadFile(system.File("hosts")), "# [Header] only\n\n");
  }
  EXPECT_EQ(ReadFile(program.File("vellomar_Log.txt")), "");

  // A hosts file named by hand is not the system's: written directly, pkexec not asked.
  pkexec.refuse = 0;
  WriteFile(system.File("other"), "# other\n");
  s.SetHostsFilePath(system.File("other"));
  EXPECT_FALSE(s.InstallsThroughAdministrator());
  (void)s.InstallFile(program.File("M_Hosts.txt"));
  EXPECT_EQ(pkexec.runs.size(), 7u);
  EXPECT_EQ(ReadFile(system.File("other")), Merged());
}

TEST(HelperExitTest, EachStatusMapsToAResultAndTheLogTexts) {
  using Result = install::HostUpdateOutcome::Result;
  const V command{"/usr/bin/pkexec", "/h"};
  const auto read = [&](bool started, int code, std::string_view err) {
    return install::ReadHelperExit(started, code, err, command);
  };
  EXPECT_EQ(read(true, 0, "").result, Result::kInstalled);
  const auto failed = read(true, 1, "Did not backup /etc/hosts\nCould not Copy to /etc/hosts\n");
  EXPECT_EQ(failed.result, Result::kNotInstalled);
  EXPECT_EQ(failed.log_lines, (V{"Did not backup /etc/hosts", "Could not Copy to /etc/hosts"}));
  EXPECT_EQ(read(true, 2, "").result, Result::kDamaged);
  EXPECT_EQ(read(true, 3, "").result, Result::kNothingToDo);
  EXPECT_EQ(read(true, 4, "").result, Result::kNotRead);
  EXPECT_EQ(read(true, 5, "").log_lines,
            (V{"Could not Copy to HOSTS: /h refused its input (status 5)"}));
  EXPECT_EQ(read(true, 7, "").result, Result::kBusy);
  EXPECT_EQ(read(true, 8, "").result, Result::kNotRead);
  for (const int refused : {126, 127}) {
    const auto outcome = read(true, refused, "Error executing command as another user\n");
    EXPECT_EQ(outcome.result, Result::kNotAuthorized);
    EXPECT_TRUE(outcome.log_lines.empty());
  }
  EXPECT_EQ(read(false, -1, "").log_lines, (V{"Could not start /usr/bin/pkexec"}));
  EXPECT_EQ(read(true, -1, "").log_lines, (V{"/usr/bin/pkexec did not end normally"}));
}

}  // namespace
}  // namespace vellomar::session
