// The rules of a run, without a window: selection, re-ticking, merge outcomes, the install and
// its verdict, as typed results. What each result says is the view's test.
#include "session/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/header_reader.h"
#include "common/program_fixture.h"
#include "install/privileged.h"
#include "view/status_text.h"

namespace vellomar::session {
namespace {

using namespace vellomar::testing;  // ProgramFixture, WriteFile, ReadFile, Exists
using Kind = Status::Kind;

class SessionTest : public ProgramFixture {
 protected:
  SessionTest() {
    Source("H_0Header.txt", HeaderText("2026-12-01"));
    Source("H_1mvps.txt", "0.0.0.0 a.example\n127.0.0.1 localhost\n");
    Source("H_2Header.txt", "# second header\n");
    Source("H_3mvps.txt", "127.0.0.1 b.example\n");
    Source("H_4plain.txt", "0.0.0.0 c.example");
    SetHosts(kHostsBefore);
  }
  // The start-up of the window, without the window.
  Session& Load(Environment env) {
    session = std::make_unique<Session>(std::move(env));
    session->StartUp();
    return *session;
  }
  Session& Load() { return Load(Env()); }
  V Ticked() const {
    V names;
    for (const auto& entry : session->Entries()) {
      if (entry.ticked) names.push_back(entry.name);
    }
    return names;
  }
  void TickOnly(const V& names) {
    for (std::size_t i = 0; i < session->Entries().size(); ++i) session->SetTickedQuietly(i, false);
    for (const auto& name : names) session->SetTickedQuietly(*session->FindEntry(name), true);
  }
  Kind Said() const { return session->Information().kind; }
  Tone ToneSaid() const { return session->Information().tone; }
  std::pair<Kind, Tone> Told() const { return {Said(), ToneSaid()}; }

  const std::string kHostsBefore = "# hosts before\n127.0.0.1 localhost\n";
  std::unique_ptr<Session> session;
};

TEST_F(SessionTest, StartUpProbesListsAndMergesWithTheInstalledSourcesTicked) {
  WriteFile(Sys("hosts"),
            "# [Start of H_4plain.txt entries]\n# [Start of H_9gone.txt,H_1mvps.txt entries]\n");
  Session& s = Load();
  EXPECT_EQ(s.HostsFilePath(), Sys("hosts"));
  EXPECT_EQ(s.ResolverToolPath(), Sys("resolvectl"));
  EXPECT_EQ(s.EditorPath(), Sys("editor"));
  EXPECT_EQ(s.MergedFilePath(), P("M_Hosts.txt"));
  // The first entry's tick merges once; the installed names tick without merging; the mode
  // change and the last step merge the whole selection.
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt", "H_4plain.txt"}));
  EXPECT_EQ(merges, 3);
  EXPECT_EQ(s.Mode(), merge::AddressMode::kUse0000);
  EXPECT_EQ(Said(), Kind::kAdminUser);
  // The header's date filled in, a surplus localhost line commented out, sources in list order.
  EXPECT_EQ(Merged().find("07/12/2026 01:02:03 -------\n127.0.0.1 localhost\n"), 73u);
  EXPECT_LT(Merged().find("# [Start of H_1mvps.txt entries]\n0.0.0.0 a.example\n# 127.0.0.1 "),
            Merged().find("# [Start of H_4plain.txt entries]\n0.0.0.0 c.example\n"));
}

// Refusals leave the file and the ticks alone; a second header or mvps entry loses its tick
// without a merge of its own; a change of a tick or the mode merges once, the mode rewriting
// the block addresses.
TEST_F(SessionTest, TheSelectionRulesDecideWhatIsMergedAndHowOften) {
  Session& s = Load();
  const std::string before = Merged();
  for (const auto& [ticks, result, kind] : std::vector<std::tuple<V, MergeResult, Kind>>{
           {{}, MergeResult::kNoSelection, Kind::kNoSelection},
           {{"H_1mvps.txt", "H_2Header.txt"}, MergeResult::kNoHeader, Kind::kNoHeader}}) {
    TickOnly(ticks);
    EXPECT_EQ(s.MergeTickedEntries(), result);
    EXPECT_EQ(Told(), std::pair(kind, Tone::kWarning));
    EXPECT_EQ(Merged(), before);
    EXPECT_EQ(Ticked(), ticks);
  }
  for (const bool by_click : {true, false}) {
    TickOnly({"H_0Header.txt", "H_1mvps.txt", "H_2Header.txt", "H_3mvps.txt"});
    merges = 0;
    if (by_click) {
      s.OnSelectionChanged();
    } else {
      EXPECT_EQ(s.MergeTickedEntries(), MergeResult::kMerged);
    }
    EXPECT_EQ(merges, 1);
    EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt"}));
    EXPECT_FALSE(Contains(Merged(), "second header"));
    EXPECT_FALSE(Contains(Merged(), "b.example"));
  }
  TickOnly({"H_0Header.txt", "H_3mvps.txt"});
  merges = 0;
  s.SetTicked(4, true);
  s.SetTicked(4, true);  // no change, no merge
  EXPECT_EQ(merges, 1);
  EXPECT_TRUE(Contains(Merged(), "\n0.0.0.0 b.example\n"));
  s.SetMode(merge::AddressMode::kUse127);
  s.SetMode(merge::AddressMode::kUse127);
  EXPECT_EQ(merges, 2);
  EXPECT_TRUE(Contains(Merged(), "\n127.0.0.1 c.example\n# [End of H_4plain.txt entries]"));
  s.SetMode(merge::AddressMode::kNoChange);
  EXPECT_TRUE(Contains(Merged(), "\n0.0.0.0 c.example\n"));
  EXPECT_TRUE(Contains(Merged(), "\n127.0.0.1 b.example\n"));
}

// The allowlist is read at every merge, and the duplicates option merges again when it changes;
// without either the merged file is as it was, and an allowlist that cannot be read fails the
// merge as an unreadable source does.
TEST_F(SessionTest, TheAllowlistAndTheDuplicatesOptionShapeEveryMerge) {
  Source("H_4plain.txt", "0.0.0.0 c.example a.example C.example\n");
  Source("allow.txt", "# mine\nA.example\n");
  Session& s = Load();
  TickOnly({"H_0Header.txt", "H_1mvps.txt", "H_4plain.txt"});
  merges = 0;
  s.SetDedupe(true);
  s.SetDedupe(true);  // no change, no merge
  EXPECT_EQ(merges, 1);
  EXPECT_FALSE(Contains(Merged(), "a.example"));
  EXPECT_TRUE(Contains(Merged(), "\n0.0.0.0 c.example\n"));
  EXPECT_EQ(Told(), std::pair(Kind::kMerged, Tone::kNeutral));
  std::filesystem::remove(P("Hostfiles/allow.txt"));
  std::filesystem::create_directory(P("Hostfiles/allow.txt"));
  s.SetDedupe(false);
  EXPECT_EQ(Told(), std::pair(Kind::kMerged, Tone::kFailure));
  EXPECT_EQ(s.Information().skipped.at(0).name, "allow.txt");
  EXPECT_EQ(s.InstallMerged(false), Verdict::kFailed);
  EXPECT_EQ(Hosts(), kHostsBefore);
}

TEST_F(SessionTest, VersionSidesCompareTheDatedLines) {
  Session& s = Load();
  // The merged file carries the header's dates; the installed one has none.
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_FALSE(s.VersionsMatch());
  EXPECT_EQ(s.MergedUpdated(), "2026-12-01");
  EXPECT_EQ(s.CurrentUpdated(), "Missing or non MVPS HOSTS File");
  SetHosts(Merged());
  s.RefreshVersions(Sides::kBoth);
  EXPECT_TRUE(s.VersionsMatch());
  EXPECT_EQ(s.MergedSide().tone, Tone::kNeutral);
  EXPECT_EQ(s.CurrentSide().summary, "7 Lines - len: 136");
  // A file under 100 bytes is not read: empty text, the summary kept, the merged side yellow;
  // the installed side is not read again.
  WriteFile(P("M_Hosts.txt"), "short\n");
  SetHosts(HeaderText("2026-11-11") + std::string(100, '#'));
  s.RefreshVersions(Sides::kMerged);
  EXPECT_EQ(s.MergedSide().version_text, "");
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_FALSE(s.MergedSide().summary.empty());
  EXPECT_EQ(s.CurrentUpdated(), "2026-12-01");
  s.RefreshVersions(Sides::kInstalled);
  EXPECT_EQ(s.CurrentUpdated(), "2026-11-11");
}

// The summary and the dated lines of a merge come from the bytes as they are written: they
// are what reading the merged file back gives, in either dialect, whatever the size of the
// pieces the sources are read in, which never changes a byte of the merge.
TEST_F(SessionTest, TheMergedSideIsWhatReadingTheFileBackGives) {
  Source("H_5crlf.txt",
         "# ------- Updated: x -------\r\n127.0.0.1 d.example\r\n"
         "# [Start of H_2Header.txt entries]\r\n# ------- Created: y\r");
  std::string big;
  for (int i = 0; i < 30000; ++i)
    big += (i % 2 ? "0.0.0.0 e" : "127.0.0.1 f") + std::to_string(i) + "\n";
  Source("H_6big.txt", big + "# ------- Updated: z -------");
  const V ticked = {"H_0Header.txt", "H_1mvps.txt", "H_4plain.txt", "H_5crlf.txt", "H_6big.txt"};
  for (const auto le : {support::LineEnd::kCrLf, support::LineEnd::kLf}) {
    std::string first;
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, support::kReadChunkBytes}) {
      Environment env = Env();
      env.line_end = le;
      Session& s = Load(env);
      s.SetReadChunkBytes(chunk);
      TickOnly(ticked);
      ASSERT_EQ(s.MergeTickedEntries(), MergeResult::kMerged);
      if (first.empty()) first = Merged();
      EXPECT_TRUE(Merged() == first) << chunk;
      const catalogue::HeaderReport report = catalogue::ReadHeaderFile(P("M_Hosts.txt"), le);
      EXPECT_EQ(s.Information().subject, catalogue::FileSummary(P("M_Hosts.txt"), le));
      EXPECT_EQ(s.MergedSide().summary, s.Information().subject);
      EXPECT_EQ(s.MergedSide().version_text, report.version_text);
      EXPECT_EQ(s.MergedUpdated(), report.updated.value_or(std::string(catalogue::kMergedDefault)));
      EXPECT_EQ(s.MergedCreated(), report.created.value_or(std::string(catalogue::kMergedDefault)));
      EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt", "H_2Header.txt", "H_4plain.txt",
                             "H_5crlf.txt", "H_6big.txt"}));
    }
  }
}

TEST_F(SessionTest, TheVerdictComesFromTheValuesAndTheBytes) {
  Session& s = Load();
  launcher.records.clear();
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kInstalled);
  EXPECT_EQ(Hosts(), Merged());
  EXPECT_EQ(ReadFile(Sys("hosts.ZRB")), kHostsBefore);
  EXPECT_EQ(Told(), std::pair(Kind::kInstalled, Tone::kSuccess));
  ASSERT_EQ(launcher.records.size(), 1u);  // the flush
  EXPECT_EQ(launcher.records[0].argv, (V{Sys("resolvectl"), "flush-caches"}));

  // The same dated lines but other bytes: still a failure, with both boxes yellow.
  SetHosts(Merged() + "# edited by hand\n");
  s.RefreshVersions(Sides::kBoth);
  EXPECT_EQ(s.JudgeInstall(true), Verdict::kFailed);
  EXPECT_EQ(Told(), std::pair(Kind::kInstallFailed, Tone::kFailure));
  EXPECT_EQ(s.CurrentSide().tone, Tone::kWarning);
  EXPECT_EQ(s.MergedSide().tone, Tone::kWarning);
  EXPECT_EQ(launcher.records.size(), 1u);  // no flush after a failure
}

// The merged file of a refused or failed merge, or of one that left a ticked source out, is not
// what was ticked: it is never installed. A source that cannot be read safely is named with its
// reason and logged, never merged as an empty block; a link to a regular file is followed.
TEST_F(SessionTest, NothingIsInstalledUnlessTheMergeWasWhatWasTicked) {
  Session& s = Load();
  TickOnly({"H_1mvps.txt"});
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kFailed);
  EXPECT_EQ(Told(), std::pair(Kind::kNoHeader, Tone::kFailure));
  EXPECT_EQ(view::StatusText(s.Information()), "You must select a Header file - HOSTS not written");
  EXPECT_EQ(s.InstallMerged(true), Verdict::kFailed);
  EXPECT_EQ(Hosts(), kHostsBefore);
  EXPECT_FALSE(Exists(Sys("hosts.ZRB")));

#ifndef _WIN32  // no file size limit per process, no links
  // A merge that cannot be written (here: past the file size limit) says so and logs it.
  Source("H_4plain.txt", std::string(200000, '#'));
  TickOnly({"H_0Header.txt", "H_4plain.txt"});
  EXPECT_TRUE(RunInChild([&] {
    return LimitFileSize(100000) && s.MergeAndInstall(false) == Verdict::kFailed &&
           Said() == Kind::kMergeNotWritten && s.Information().detail == "M_Hosts.txt";
  }));
  EXPECT_TRUE(Contains(Log(), "Could not Write " + P("M_Hosts.txt")));
  WriteFile(Sys("list"), "0.0.0.0 linked.example\n");
  ::symlink(Sys("list").c_str(), P("Hostfiles/H_5link.txt").c_str());
  Source("H_6nul.txt", std::string("0.0.0.0 nul.example\0\n", 22));
  s.ListSources();
  TickOnly({"H_0Header.txt", "H_4plain.txt", "H_5link.txt", "H_6nul.txt"});
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
  EXPECT_EQ(Told(), std::pair(Kind::kMerged, Tone::kFailure));
  ASSERT_EQ(s.Information().skipped.size(), 1u);
  EXPECT_EQ(s.Information().skipped[0].name, "H_6nul.txt");
  EXPECT_EQ(s.Information().skipped[0].why, platform::ReadStatus::kNotText);
  EXPECT_EQ(s.Information().addenda.back().kind, Addendum::Kind::kHostsNotWritten);
  EXPECT_EQ(Hosts(), kHostsBefore);
  EXPECT_FALSE(Contains(Merged(), "nul.example"));
  EXPECT_TRUE(Contains(Merged(), "linked.example"));
  EXPECT_TRUE(Contains(Log(), "Could not Read " + P("Hostfiles/H_6nul.txt")));
  // A merged file that cannot take the old one's place is logged, and the old one is kept.
  ::unlink(P("M_Hosts.txt").c_str());
  ::mkdir(P("M_Hosts.txt").c_str(), 0755);
  WriteFile(P("M_Hosts.txt/keep"), "x");
  TickOnly({"H_0Header.txt"});
  EXPECT_EQ(s.MergeTickedEntries(), MergeResult::kNotReplaced);
  EXPECT_TRUE(Contains(Log(), "Failed to Kill " + P("M_Hosts.txt")));
  EXPECT_EQ(ReadFile(P("M_Hosts.txt/keep")), "x");
#endif
}

// The merged file is read once, never through a link at its name, and only hosts text is
// installed: a link there (to a root-only file, say) installs nothing of what it names.
TEST_F(SessionTest, TheInstallReadsTheMergedFileItselfAndOnlyHostsText) {
#ifdef _WIN32
  GTEST_SKIP() << "needs symbolic links";
#else
  Session& s = Load();
  WriteFile(Sys("shadow"), "root:secret\n");
  ::unlink(P("M_Hosts.txt").c_str());
  ::symlink(Sys("shadow").c_str(), P("M_Hosts.txt").c_str());
  EXPECT_EQ(s.InstallFile(P("M_Hosts.txt")), (V{"Could not Find " + P("M_Hosts.txt")}));
  EXPECT_EQ(s.LastInstall(), install::HostUpdateOutcome::Result::kNotRead);
  ::unlink(P("M_Hosts.txt").c_str());
  WriteFile(P("M_Hosts.txt"), std::string("0.0.0.0 a\0", 11));
  EXPECT_EQ(s.InstallFile(P("M_Hosts.txt")),
            (V{"Not a hosts file (NUL bytes), not installed: " + P("M_Hosts.txt")}));
  EXPECT_EQ(Hosts(), kHostsBefore);
  EXPECT_FALSE(Exists(Sys("hosts.ZRB")));
#endif
}

// As root, nothing is written in a program folder that other users can change; a program
// folder that cannot be named is refused, and the current folder never stands in for it.
TEST_F(SessionTest, AFolderThatMayNotBeUsedIsNeitherReadNorWritten) {
  Environment unnamed = Env();
  unnamed.program_folder.clear();
  Session lost(unnamed);
  lost.ProbePaths();
  lost.ListSources();
  EXPECT_EQ(lost.FolderProblem()->folder_problem, platform::FolderProblem::kUnnamed);
  EXPECT_TRUE(lost.Entries().empty());
  EXPECT_EQ(lost.MergedFilePath(), "");
#ifndef _WIN32
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  ::chmod(program.path().c_str(), 0777);
  Session& s = Load();
  EXPECT_EQ(Told(), std::pair(Kind::kFolderProblem, Tone::kFailure));
  EXPECT_EQ(s.Information().folder_problem, platform::FolderProblem::kUnsafe);
  EXPECT_FALSE(Exists(P("M_Hosts.txt")));
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
  EXPECT_EQ(Hosts(), kHostsBefore);
  EXPECT_FALSE(s.StartCacheCapture());
  EXPECT_FALSE(Exists(P("displaydns.txt")) || Exists(P("vellomar_Log.txt")));
#endif
}

TEST_F(SessionTest, ProgramsThatDoNotStartAreSaid) {
  launcher.starts = false;
  Session& s = Load();
  EXPECT_EQ(s.MergeAndInstall(true), Verdict::kInstalled);
  EXPECT_EQ(ToneSaid(), Tone::kSuccess);
  EXPECT_EQ(s.Information().addenda.at(0).kind, Addendum::Kind::kFlushFailed);
  const std::string tool = Sys("resolvectl");
  using P = Status::Purpose;
  for (const auto& [step, started, purpose] :
       std::vector<std::tuple<std::function<void()>, std::string, P>>{
           {[&] { EXPECT_FALSE(s.FlushResolverCache()); }, tool, P::kFlush},
           {[&] { s.StopDnsService(); }, "systemctl", P::kStopService},
           {[&] { s.StartDnsService(); }, "systemctl", P::kStartService},
           {[&] { s.OpenInEditor(s.MergedFilePath()); }, Sys("editor"), P::kEdit},
           {[&] { EXPECT_FALSE(s.StartCacheCapture()); }, tool, P::kShowCache}}) {
    step();
    EXPECT_EQ(Told(), std::pair(Kind::kCannotStart, Tone::kFailure));
    EXPECT_EQ(s.Information().subject, started);
    EXPECT_EQ(s.Information().purpose, purpose);
  }
  s.SetResolverToolPath("");
  EXPECT_FALSE(s.FlushResolverCache());
  EXPECT_EQ(Said(), Kind::kNoDnsTool);
}

// An install waits while another installs over the same hosts file (the lock is one open file
// each, so one process can play both); the window, which does not wait, says at once that
// another install is under way.
TEST_F(SessionTest, InstallsOverOneHostsFileTakeTurns) {
  Session& s = Load();
  auto held = platform::LockInstalls(Sys("hosts"), 0, locks.path());
  ASSERT_NE(held, nullptr);
  Environment window = Env();
  window.install_lock.wait_ms = 0;
  Session impatient(window);
  impatient.ProbePaths();
  impatient.ListAndTickSources();
  EXPECT_EQ(impatient.InstallMerged(false), Verdict::kFailed);
  EXPECT_EQ(impatient.Information().kind, Kind::kInstallBusy);
  EXPECT_EQ(Hosts(), kHostsBefore);
  std::thread holder([&held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    held.reset();
  });
  EXPECT_TRUE(s.InstallFile(P("M_Hosts.txt")).empty());
  holder.join();
  EXPECT_EQ(Hosts(), Merged());
}

// pkexec as the session sees it through the launcher: records what it was asked to run and,
// unless it plays a refusal, runs the helper's install over the test's hosts.
class FakePkexec final : public RecordingLauncher {
 public:
  explicit FakePkexec(std::string hosts) : hosts_(std::move(hosts)) {}
  platform::RunResult RunPrivileged(const std::vector<std::string>& argv,
                                    std::string_view input) override {
    runs.push_back(argv);
    if (declines) return {false, false, -1, {}, {}, true};
    if (refuse != 0) return {true, false, refuse, {}, says};
    std::vector<std::string> lines;
    const auto status = install::RunHelperInstall(input, hosts_, lines);
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return {true, false, static_cast<int>(status), {}, text};
  }
  std::vector<V> runs;
  int refuse = 0;
  std::string says;       // pkexec's message when it refuses
  bool declines = false;  // as Windows' consent prompt turned down

 private:
  std::string hosts_;
};

TEST_F(SessionTest, WithoutRootTheInstallGoesThroughPkexecAndARefusalIsNoWriteFailure) {
  FakePkexec pkexec(Sys("hosts"));
  const V command{"/usr/bin/pkexec", "/usr/libexec/vellomar/vellomar-install-helper"};
  Environment env = Env();
  admin = false;
  env.launcher = &pkexec;
  env.privileged_install = command;
  env.host_name = [] { return std::string("Box7"); };
  Source("H_0Header.txt", "# [Header]\n127.0.1.1 #HOSTNAME#\n");
  SetHosts("127.0.1.1 box7\n");
  Session& s = Load(env);
  EXPECT_EQ(Told(), std::pair(Kind::kAsksForPassword, Tone::kNeutral));
  EXPECT_EQ(Merged(), "# [Header]\n127.0.1.1 Box7\n\n");

  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
  EXPECT_EQ(pkexec.runs, (std::vector<V>{command}));
  EXPECT_EQ(Hosts(), Merged());
  EXPECT_EQ(ReadFile(Sys("hosts.ZRB")), "127.0.1.1 box7\n");
  EXPECT_EQ(ReadFile(Sys("hosts.vellomar-original")), "127.0.1.1 box7\n");
  EXPECT_TRUE(s.MissingHostName().empty());

  // A header without the machine's name: installed all the same, with the warning.
  Source("H_0Header.txt", "# [Header] only\n");
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
  EXPECT_EQ(s.MissingHostName(), "Box7");
  EXPECT_EQ(s.Information().addenda.back().kind, Addendum::Kind::kHostNameMissing);

  // pkexec's refusals, told apart by its status and its words, and the declined consent prompt
  // (no message): nothing written, no write failure said.
  const std::string as_other = "Error executing command as another user: ";
  using enum AuthRefusal;
  for (const auto& [message, refusal] : std::vector<std::pair<std::string, AuthRefusal>>{
           {as_other + "Request dismissed", kDismissed},
           {as_other + "Not authorized\n\nThis incident has been reported.", kNotAuthorized},
           {as_other + "No authentication agent found.", kNoAgent},
           {"Error getting authority: Error initializing authority: Could not connect", kNoPolkit},
           {"", kDismissed}}) {
    pkexec.refuse = refusal == kDismissed ? 126 : 127;
    pkexec.declines = message.empty();
    pkexec.says = message;
    Source("H_0Header.txt", "# [Header] again\n");
    EXPECT_EQ(s.MergeAndInstall(false), Verdict::kFailed);
    EXPECT_EQ(Said(), Kind::kAuthRefused);
    EXPECT_EQ(s.Information().refusal, refusal);
    EXPECT_EQ(ToneSaid(), refusal == kDismissed ? Tone::kWarning : Tone::kFailure);
    EXPECT_EQ(Hosts(), "# [Header] only\n\n");
  }
  EXPECT_EQ(Log(), "");

  // A hosts file named by hand is not the system's: written directly, pkexec not asked.
  pkexec.refuse = 0;
  pkexec.declines = false;
  WriteFile(Sys("other"), "# other\n");
  s.SetHostsFilePath(Sys("other"));
  EXPECT_FALSE(s.InstallsThroughAdministrator());
  (void)s.InstallFile(P("M_Hosts.txt"));
  EXPECT_EQ(pkexec.runs.size(), 7u);
  EXPECT_EQ(ReadFile(Sys("other")), Merged());
}

// An install over a hosts file the program did not write, whose entries of the user's own the
// new file lacks, installs nothing until forced; a hosts file the program wrote is replaced.
TEST_F(SessionTest, EntriesOfTheUsersOwnHoldAnInstallBackUntilForced) {
  const std::string own = "127.0.0.1 localhost\n192.168.1.10 nas\n10.0.0.1 a b\n";
  SetHosts(own);
  Session& s = Load();
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kOwnEntriesAtStake);
  EXPECT_EQ(Hosts(), own);
  EXPECT_FALSE(Exists(Sys("hosts.ZRB")));
  EXPECT_EQ(Told(), std::make_pair(Kind::kOwnEntriesKept, Tone::kWarning));
  EXPECT_EQ(view::StatusText(s.Information()),
            "HOSTS holds 3 entries of your own that the new file lacks - HOSTS not written");
  EXPECT_EQ(s.OwnEntriesAtStake(),
            (std::vector<install::HostEntry>{
                {"192.168.1.10", "nas"}, {"10.0.0.1", "a"}, {"10.0.0.1", "b"}}));
  Source("H_0Header.txt", HeaderText("2026-12-01") + "10.0.0.1 b A\n");
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kOwnEntriesAtStake);
  EXPECT_EQ(s.OwnEntriesAtStake(), (std::vector<install::HostEntry>{{"192.168.1.10", "nas"}}));
  EXPECT_EQ(s.InstallMerged(false, true), Verdict::kInstalled);
  EXPECT_EQ(Hosts(), Merged());
  SetHosts("# [Start of H_1mvps.txt entries]\n192.168.1.10 nas\n");
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
}

// A data folder seeded from the installed samples gets, in its header, the entries of the user's
// own in the hosts file found at start-up; a folder seeded before is left as it is.
TEST_F(SessionTest, ASeededHeaderKeepsTheHostsFilesOwnEntries) {
  TempDir prefix, data;
  std::filesystem::create_directories(prefix.File("bin"));
  std::filesystem::create_directories(prefix.File("share/vellomar/Hostfiles"));
  const std::string sample = "# sample\n127.0.0.1 localhost";
  WriteFile(prefix.File("share/vellomar/Hostfiles/H_0_Header.txt"), sample);
  SetHosts("127.0.0.1 localhost\n192.168.1.10 nas # mine\nff02::1 ip6-allnodes\n");
  Environment env = Env();
  env.folder_choice = platform::ChooseProgramFolder(prefix.File("bin"), data.path());
  ASSERT_TRUE(env.folder_choice.seeded);
  EXPECT_TRUE(KeepOwnEntriesInSeededHeader(env));
  const std::string header = data.File("vellomar/Hostfiles/H_0_Header.txt");
  EXPECT_EQ(ReadFile(header), sample + "\n\n# Entries of your own, kept from " + Sys("hosts") +
                                  " on 07/12/2026 01:02:03\n192.168.1.10 nas\n");
  env.folder_choice = platform::ChooseProgramFolder(prefix.File("bin"), data.path());
  EXPECT_FALSE(env.folder_choice.seeded);
  EXPECT_FALSE(KeepOwnEntriesInSeededHeader(env));
}

TEST(HelperExitTest, EachStatusMapsToAResultAndTheLogTexts) {
  using Result = install::HostUpdateOutcome::Result;
  const V command{"/usr/bin/pkexec", "/h"};
  const auto read = [&](bool started, int code, std::string_view err) {
    return install::ReadHelperExit({started, false, code, {}, std::string(err)}, command);
  };
  EXPECT_EQ(read(true, 7, "").result, Result::kBusy);
  EXPECT_EQ(read(true, 1, "Did not backup /etc/hosts\nCould not Copy to /etc/hosts\n").log_lines,
            (V{"Did not backup /etc/hosts", "Could not Copy to /etc/hosts"}));
  EXPECT_EQ(read(true, 5, "").log_lines,
            (V{"Could not Copy to HOSTS: /h refused its input (status 5)"}));
  EXPECT_TRUE(read(true, 127, "Not authorized\n").log_lines.empty());
  EXPECT_EQ(read(false, -1, "").log_lines, (V{"Could not start /usr/bin/pkexec"}));
  EXPECT_EQ(read(true, -1, "").log_lines, (V{"/usr/bin/pkexec did not end normally"}));
}

// Without administrator rights on Windows the helper is started elevated (under Wine: started)
// and installs through its pipe over the system hosts file, which is the Wine prefix's own.
TEST_F(SessionTest, OnWindowsTheElevatedHelperInstallsOverTheSystemHosts) {
  if (!OnWindows()) GTEST_SKIP() << "the system hosts file is a test's own only in a Wine prefix";
  const std::string hosts = platform::FirstExisting(platform::HostsCandidates());
  const std::string etc = hosts.substr(0, hosts.find_last_of('\\'));
  struct PutBack {  // the prefix as it was, whatever the test did
    std::vector<std::pair<std::string, std::optional<std::string>>> files;
    ~PutBack() {
      for (const auto& [path, bytes] : files) {
        if (bytes) {
          WriteFile(path, *bytes);
        } else {
          std::remove(path.c_str());
        }
      }
    }
  } put_back;
  for (const auto* suffix : {"", ".ZRB", ".vellomar-original"}) {
    const std::string path = hosts + suffix;
    put_back.files.emplace_back(path, Exists(path) ? std::optional(ReadFile(path)) : std::nullopt);
    if (*suffix != '\0') std::remove(path.c_str());  // the install starts without them
  }
  const std::string before = "127.0.0.1 localhost\r\n# the machine's own, not Vellomar's\r\n";
  WriteFile(hosts, before);
  const long entries = Entries(etc);
  const auto system_launcher = platform::CreateSystemLauncher();
  Environment env = Env();
  admin = false;
  env.hosts_candidates = {hosts};
  env.launcher = system_launcher.get();
  env.privileged_install = platform::PrivilegedInstallCommand(
      platform::InstallHelperPath(
          std::filesystem::absolute(VELLOMAR_HELPER).parent_path().string()),
      {});
  ASSERT_EQ(env.privileged_install.size(), 1u);
  Session& s = Load(env);
  EXPECT_TRUE(s.InstallsThroughAdministrator());
  EXPECT_EQ(s.MergeAndInstall(false), Verdict::kInstalled);
  EXPECT_EQ(ReadFile(hosts), Merged());
  EXPECT_EQ(ReadFile(hosts + ".ZRB"), before);
  EXPECT_EQ(Entries(etc), entries + 2);  // the backup and the original, nothing else
  EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace vellomar::session
