// The Windows platform layer, run on Windows or under Wine. Every file lives in a temporary
// folder; programs started are copies of windows_probe, never the system's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/source_list.h"
#include "common/test_util.h"
#include "common/windows_test_util.h"
#include "dns/capture.h"
#include "dns/commands.h"
#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/line_end.h"
#include "support/shell.h"

namespace vellomar::platform {
namespace {

using testing::AttributesOf;
using testing::Entries;
using testing::Holder;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Lines = std::vector<std::string>;

void Mark(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
}

// An environment variable set for the life of the object, and put back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    char old[32768];
    const DWORD size = ::GetEnvironmentVariableA(name, old, sizeof old);
    if (size > 0 && size < sizeof old) old_ = std::string(old, size);
    ::SetEnvironmentVariableA(name, value);
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Waits up to 20 seconds for `done`, which a process started without waiting brings about.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 400; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// The names in `folder` that pass the existence test.
Lines VisibleFiles(const std::string& folder) {
  Lines names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (FileExists(entry.path().string())) names.push_back(entry.path().filename().string());
  }
  return names;
}

// A copy of the probe program at `path`.
void PlaceProbe(const std::string& path) {
  char full[MAX_PATH];
  ASSERT_NE(::GetFullPathNameA(VELLOMAR_WINDOWS_PROBE, MAX_PATH, full, nullptr), 0u);
  ASSERT_TRUE(::CopyFileA(full, path.c_str(), FALSE)) << path;
}

TEST(WindowsExistenceTest, FindsNormalFilesAndSkipsHiddenSystemFoldersAndPatterns) {
  TempDir dir;
  for (const char* name : {"plain", "readonly", "hidden", "system", "both"}) {
    WriteFile(dir.File(name), "x");
  }
  Mark(dir.File("readonly"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  Mark(dir.File("hidden"), FILE_ATTRIBUTE_HIDDEN);
  Mark(dir.File("system"), FILE_ATTRIBUTE_SYSTEM);
  Mark(dir.File("both"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  std::filesystem::create_directory(dir.File("folder"));
  EXPECT_TRUE(FileExists(dir.File("plain")));
  EXPECT_TRUE(FileExists(dir.File("readonly")));
  // A real lookup would take the pattern; the existence test names one file exactly.
  for (const auto& path :
       {dir.File("hidden"), dir.File("system"), dir.File("both"), dir.File("folder"),
        dir.File("missing"), dir.File("p*"), dir.File("plai?"), std::string()}) {
    EXPECT_FALSE(FileExists(path)) << path;
  }
  EXPECT_EQ(FirstExisting({dir.File("hidden"), dir.File("system"), dir.File("folder"),
                           dir.File("readonly"), dir.File("plain")}),
            dir.File("readonly"));
  EXPECT_TRUE(FolderExists(dir.File("folder")));
  EXPECT_FALSE(FolderExists(dir.File("plain")));
}

TEST(WindowsProgramTest, NamesTheProgramAndWritesNativePathsAndLines) {
  EXPECT_EQ(ProgramName(), "platform_test");
  EXPECT_EQ(JoinPath(ProgramFolder(), "platform_test.exe"), ProgramPath());
  EXPECT_NE(ProgramFolder().back(), '\\');
  EXPECT_EQ(JoinPath("C:\\", "hosts"), "C:\\hosts");
  EXPECT_EQ(JoinPath("C:\\Tools", "Vellomar_Log.txt"), "C:\\Tools\\Vellomar_Log.txt");
  EXPECT_EQ(support::NativeLineEnd(), support::LineEnd::kCrLf);
  EXPECT_EQ(NativeOsFamily(), OsFamily::kWindows);
  // The shell gets a folder without its one trailing backslash.
  testing::RecordingLauncher launcher;
  support::ShellOpen(launcher, "C:\\Tools\\");
  support::ShellOpen(launcher, "C:\\Tools\\\\");
  ASSERT_EQ(launcher.records.size(), 2u);
  EXPECT_EQ(launcher.records[0].argv, Lines{"C:\\Tools"});
  EXPECT_EQ(launcher.records[1].argv, Lines{"C:\\Tools\\"});
}

TEST(WindowsStartupPathsTest, SystemRootComesFirstThenTheFixedPlaces) {
  TempDir root;
  std::filesystem::create_directories(root.File("system32\\drivers\\etc"));
  const std::string hosts = root.File("system32\\drivers\\etc\\hosts");
  WriteFile(hosts, "127.0.0.1 localhost\r\n");
  WriteFile(root.File("notepad.exe"), "");
  WriteFile(root.File("system32\\ipconfig.exe"), "");
  const ScopedEnvironment system_root("SystemRoot", root.path().c_str());
  EXPECT_EQ(HostsCandidates(), (Lines{hosts, "c:\\windows\\system32\\drivers\\etc\\hosts",
                                      "c:\\winnt\\system32\\drivers\\etc\\hosts"}));
  EXPECT_EQ(EditorCandidates(), (Lines{root.File("notepad.exe"), "c:\\windows\\notepad.exe",
                                       "c:\\winnt\\notepad.exe"}));
  EXPECT_EQ(FirstExisting(ResolverToolCandidates()), root.File("system32\\ipconfig.exe"));
  EXPECT_EQ(FirstExisting(HostsCandidates()), hosts);
  // A hidden hosts file is not found: the probe goes on to the fixed places.
  Mark(hosts, FILE_ATTRIBUTE_HIDDEN);
  EXPECT_NE(FirstExisting(HostsCandidates()), hosts);
}

TEST(WindowsReadTest, GivesExactBytesOrNothingWhileAnotherProgramWrites) {
  TempDir dir;
  const std::string ten("ab\r\ncd\n\0e\r", 10);
  const std::string path = dir.File("ten.txt");
  WriteFile(path, ten);
  WriteFile(dir.File("empty.txt"), "");
  WriteFile(dir.File("hidden.txt"), "secret");
  Mark(dir.File("hidden.txt"), FILE_ATTRIBUTE_HIDDEN);
  std::string out = "left over";
  EXPECT_EQ(support::ReadWholeFile(path, out), ReadStatus::kOk);
  EXPECT_EQ(out, ten);
  EXPECT_EQ(support::ReadWholeFile(dir.File("empty.txt"), out), ReadStatus::kOk);
  EXPECT_EQ(out, "");
  {
    const Holder reader(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(support::ReadWholeFile(path), ten);  // other readers do not stand in the way
  }
  {
    const Holder writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    out = "left over";
    EXPECT_NE(support::ReadWholeFile(path, out), ReadStatus::kOk);
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(support::ReadWholeFile(path), ten);
  for (const auto& missing : {dir.File("hidden.txt"), dir.path(), dir.File("missing.txt")}) {
    EXPECT_EQ(support::ReadWholeFile(missing), "") << missing;
  }
  // Why a read failed: devices and folders are no files, a hidden file is missing to the
  // whole-file reader but not to the install's reader, a file held for writing is unreadable.
  using enum ReadStatus;
  const std::vector<std::pair<std::string, ReadStatus>> cases = {
      {"NUL", kNotRegular},         {dir.File("COM1"), kNotRegular},    {dir.path(), kNotRegular},
      {dir.File("x\\y"), kMissing}, {dir.File("hidden.txt"), kMissing}, {"", kMissing}};
  for (const auto& [file, status] : cases) {
    EXPECT_EQ(support::ReadWholeFile(file, out), status) << file;
    EXPECT_EQ(out, "");
  }
  support::ReadOptions own;
  own.links = Links::kRefuse;
  own.visible_only = false;
  EXPECT_EQ(support::ReadWholeFile(dir.File("hidden.txt"), out, own), kOk);
  EXPECT_EQ(out, "secret");
  const Holder writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(support::ReadWholeFile(path, out), kUnreadable);
}

// Names are listed as the ANSI code page spells them and read back by that spelling; a name
// the code page cannot spell is left out. Paths resolve to their full form.
TEST(WindowsNamesTest, ListsAndReadsNamesOfTheAnsiCodePage) {
  TempDir dir;
  const auto create = [&](const std::wstring& name, const char* bytes) {
    const std::wstring path = std::filesystem::path(dir.path()).wstring() + L"\\" + name;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, bytes, static_cast<DWORD>(std::strlen(bytes)), &written, nullptr);
    ::CloseHandle(file);
  };
  create(L"H_Plain.txt", "plain");
  create(L"H_Caf\u00e9.txt", "latin");
  create(L"H_\u0416\u4e2d.txt", "cyrillic and han");
  const std::string cafe = ::GetACP() == CP_UTF8 ? "H_Caf\xc3\xa9.txt" : "H_Caf\xe9.txt";
  const bool spells_all = ::GetACP() == CP_UTF8;
  if (::GetACP() != 1252 && !spells_all) GTEST_SKIP() << "ANSI code page " << ::GetACP();
  const auto listed = ListFolder(dir.path());
  ASSERT_TRUE(listed.has_value());
  EXPECT_EQ(listed->size(), spells_all ? 3u : 2u);
  const auto sources = catalogue::ListSources(dir.path(), "H_*.txt");
  ASSERT_TRUE(sources.has_value());
  EXPECT_EQ(sources->names.at(0), cafe);
  EXPECT_EQ(sources->names.at(1), "H_Plain.txt");
  EXPECT_EQ(support::ReadWholeFile(dir.File(cafe)), "latin");
  EXPECT_FALSE(ListFolder(dir.File("missing")).has_value());

  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_EQ(ResolvePath(dir.File("sub\\..\\H_Plain.txt")), dir.File("H_Plain.txt"));
  EXPECT_EQ(ResolvePath(dir.File("missing")), std::nullopt);
}

TEST(WindowsAttributesTest, ClearsReadOnlyHiddenAndSystemAndPutsThemBack) {
  TempDir dir;
  const std::string path = dir.File("hosts");
  WriteFile(path, "x");
  constexpr DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  Mark(path, kMarks | FILE_ATTRIBUTE_ARCHIVE);
  const auto removed = SetAttributesNormal(path);
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(removed->flags, kMarks);
  EXPECT_EQ(AttributesOf(path) & (kMarks | FILE_ATTRIBUTE_ARCHIVE), FILE_ATTRIBUTE_ARCHIVE);
  WriteFile(path, "writable now");
  EXPECT_TRUE(RestoreOwnerWrite(path, *removed));
  EXPECT_TRUE(RestoreProtection(path, *removed));
  EXPECT_EQ(AttributesOf(path) & kMarks, kMarks);
  EXPECT_FALSE(SetAttributesNormal(dir.File("missing")).has_value());
  Mark(path, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(RemoveEntry(path), RemoveResult::kRemoved);
  EXPECT_EQ(RemoveEntry(path), RemoveResult::kAbsent);
}

TEST(WindowsReplacementFileTest, ReplacesOnCommitOnlyAndNeverShowsAPartialFile) {
  TempDir dir;
  const std::string target = dir.File("M_Hosts.txt");
  WriteFile(target, "old");
  if (auto abandoned = CreateReplacementFile(target)) abandoned->Write("partial");
  auto file = CreateReplacementFile(target, target);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write("new\r\n"));
  EXPECT_EQ(VisibleFiles(dir.path()), Lines{"M_Hosts.txt"});  // the new file is hidden
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  file.reset();
  EXPECT_EQ(ReadFile(target), "new\r\n");
  EXPECT_EQ(AttributesOf(target) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Entries(dir.path()), 1);
  // A new target, a folder in the way, a missing folder.
  file = CreateReplacementFile(dir.File("new.txt"));
  ASSERT_NE(file, nullptr);
  file->Write("first");
  EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  EXPECT_EQ(ReadFile(dir.File("new.txt")), "first");
  std::filesystem::create_directory(dir.File("occupied"));
  file = CreateReplacementFile(dir.File("occupied"));
  ASSERT_NE(file, nullptr);
  file->Write("x");
  EXPECT_NE(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  file.reset();
  EXPECT_TRUE(FolderExists(dir.File("occupied")));
  EXPECT_EQ(CreateReplacementFile(dir.File("missing\\hosts")), nullptr);
  EXPECT_EQ(Entries(dir.path()), 3);
}

// A handle of this process stands for the other program (an editor, a virus scanner).
TEST(WindowsReplacementFileTest, ATargetHeldOpenIsReportedBusyAndCanBeRewrittenInPlace) {
  TempDir dir;
  const std::string target = dir.File("hosts");
  WriteFile(target, "old hosts, longer than the new one\r\n");
  {
    const Holder editor(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    auto file = CreateReplacementFile(target, target);
    ASSERT_NE(file, nullptr);
    file->Write("new\r\n");
    EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kTargetBusy);
    file.reset();
    EXPECT_EQ(ReadFile(target), "old hosts, longer than the new one\r\n");
    EXPECT_EQ(RewriteInPlace(target, "new\r\n"), InPlaceResult::kRewritten);
    EXPECT_EQ(RewriteInPlace(target, std::string(70000, 'y')), InPlaceResult::kRewritten);
    EXPECT_EQ(ReadFile(target), std::string(70000, 'y'));
  }
  {
    const Holder locker(target, GENERIC_READ, FILE_SHARE_READ);  // lets nobody write
    EXPECT_EQ(RewriteInPlace(target, "new\r\n"), InPlaceResult::kNotOpened);
  }
  EXPECT_EQ(ReadFile(target), std::string(70000, 'y'));
  EXPECT_EQ(Entries(dir.path()), 1);
}

TEST(WindowsLongPathTest, FilesPastMaxPathWorkAndAStartThereFailsPlainly) {
  TempDir dir;
  std::string folder = dir.path();
  std::wstring wide_folder = L"\\\\?\\" + std::filesystem::path(dir.path()).wstring();
  while (folder.size() < 300) {
    folder += "\\" + std::string(40, 'f');
    wide_folder += L"\\" + std::wstring(40, L'f');
    ASSERT_TRUE(::CreateDirectoryW(wide_folder.c_str(), nullptr));
  }
  const std::string hosts = folder + "\\hosts";
  testing::WriteFile(hosts, "old");
  EXPECT_TRUE(FileExists(hosts));
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_EQ(support::ReadWholeFile(hosts), "old");
  auto file = CreateReplacementFile(hosts, hosts);
  ASSERT_NE(file, nullptr);
  file->Write("new");
  EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  file.reset();
  EXPECT_EQ(support::ReadWholeFile(hosts), "new");
  EXPECT_EQ(RewriteInPlace(hosts, "newer"), InPlaceResult::kRewritten);
  EXPECT_EQ(support::ReadWholeFile(hosts), "newer");
  EXPECT_TRUE(SetAttributesNormal(hosts).has_value());
  // The system starts no process in a folder that long.
  EXPECT_FALSE(CreateSystemLauncher()->Start({"cmd"}, WindowStyle::kMinimizedNoFocus, folder));
  EXPECT_EQ(RemoveEntry(hosts), RemoveResult::kRemoved);
  EXPECT_FALSE(FileExists(hosts));
  // The folders go one by one: the removal of the temporary folder does not reach this deep.
  while (wide_folder.size() > 4 + std::filesystem::path(dir.path()).wstring().size()) {
    ASSERT_TRUE(::RemoveDirectoryW(wide_folder.c_str()));
    wide_folder.erase(wide_folder.find_last_of(L'\\'));
  }
}

TEST(WindowsLauncherTest, PassesEveryArgumentWholeAndSearchesNoCurrentFolder) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("with blank"));
  const std::string probe = dir.File("with blank\\probe.exe");
  PlaceProbe(probe);
  auto launcher = CreateSystemLauncher();
  const Lines arguments = {"a b",     "",     "say \"hi\"", "back\\slash\\", "tab\there",
                           "two\\\\", "\\\"", "%PATH%",     "x&y|z"};
  Lines argv = {probe};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ASSERT_TRUE(launcher->Start(argv, WindowStyle::kMinimizedNoFocus, dir.path()));
  std::string expected;
  for (const auto& argument : arguments) expected += argument + "\n";
  EXPECT_TRUE(Eventually([&] { return ReadFile(dir.File("args.txt")) == expected; }))
      << ReadFile(dir.File("args.txt"));

  // A program named without a folder is not taken from the current folder.
  PlaceProbe(dir.File("vellomar-planted.exe"));
  char old_folder[MAX_PATH];
  ASSERT_NE(::GetCurrentDirectoryA(MAX_PATH, old_folder), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.path().c_str()));
  EXPECT_FALSE(launcher->Start({"vellomar-planted"}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({"vellomar-planted.exe"}, WindowStyle::kNormalFocus));
  ::SetCurrentDirectoryA(old_folder);
  EXPECT_FALSE(launcher->Start({dir.File("missing.exe")}, WindowStyle::kNormalFocus));
  EXPECT_FALSE(launcher->Start({}, WindowStyle::kNormalFocus));
}

// A batch runs only through a command interpreter at a full path, and never one whose name
// cmd.exe would expand.
TEST(WindowsLauncherTest, ABatchNeedsTheCommandInterpreterAndAPlainName) {
  TempDir dir;
  auto launcher = CreateSystemLauncher();
  const std::string script = dir.File("read.bat");
  testing::WriteFile(script, "echo x > y\r\n");
  {
    TempDir empty_root;
    const ScopedEnvironment system_root("SystemRoot", empty_root.path().c_str());
    const ScopedEnvironment comspec("ComSpec", "cmd.exe");
    EXPECT_FALSE(launcher->Start({script}, WindowStyle::kMinimizedFocus, dir.path()));
  }
  std::filesystem::create_directory(dir.File("100%"));
  testing::WriteFile(dir.File("100%\\read.bat"), "echo x > y\r\n");
  EXPECT_FALSE(launcher->Start({dir.File("100%\\read.bat")}, WindowStyle::kMinimizedFocus));
}

TEST(WindowsInstanceLockTest, OneHolderPerProgramWhateverTheLetterCase) {
  TempDir dir;
  auto first = TakeInstanceLock(dir.File("Vellomar.exe"));
  ASSERT_EQ(first.kind, LockResult::Kind::kTaken);
  EXPECT_EQ(TakeInstanceLock(dir.File("VELLOMAR.EXE")).kind, LockResult::Kind::kHeldByOther);
  EXPECT_EQ(TakeInstanceLock(dir.File("other.exe")).kind, LockResult::Kind::kTaken);
  first.lock.reset();
  EXPECT_EQ(TakeInstanceLock(dir.File("vellomar.exe")).kind, LockResult::Kind::kTaken);
}

// The capture runs the listing tool (here the probe in ipconfig's place) with its output in a
// fresh capture file; the marker follows in CR LF. A tool that hangs is killed by Cancel.
TEST(WindowsCaptureTest, TheToolWritesIntoTheCaptureFileAndAHangingOneIsKilled) {
  using Error = dns::Capture::StartError;
  using State = dns::Capture::State;
  TempDir dir;
  const std::string ipconfig = dir.File("ipconfig.exe");
  PlaceProbe(ipconfig);
  const std::string capture_path = dir.File("displaydns.txt");
  WriteFile(capture_path, "old");
  auto launcher = CreateSystemLauncher();
  dns::Capture capture(*launcher);
  ASSERT_EQ(capture.Start(dir.path(), ipconfig), Error::kNone);
  dns::Capture::PollResult result;
  EXPECT_TRUE(Eventually([&] { return (result = capture.Poll()).state != State::kPending; }));
  const std::string expected =
      "Windows IP Configuration\r\n\r\n    probe.example\r\n"
      "    Record Name . . . . . : probe.example\r\n"
      "    A (Host) Record . . . : 192.0.2.7\r\n\r\n@finishednow@\r\n";
  EXPECT_EQ(result.state, State::kFinished);
  EXPECT_EQ(result.text, expected);
  EXPECT_EQ(ReadFile(capture_path), expected);  // kept for the editor

  EXPECT_EQ(capture.Start(dir.path(), ""), Error::kNoTool);
  EXPECT_FALSE(testing::Exists(capture_path));
  EXPECT_EQ(capture.Start(dir.path(), dir.File("missing.exe")), Error::kToolMissing);
  EXPECT_EQ(capture.Start(dir.path(), "ipconfig.exe"), Error::kToolMissing);  // no search
  std::filesystem::create_directory(capture_path);
  EXPECT_EQ(capture.Start(dir.path(), ipconfig), Error::kLeftover);
  std::filesystem::remove(capture_path);

  // A tool that hangs (the probe, asked to) is killed at once, with what it started.
  const auto output = CreateOwnFile(dir.File("hang.txt"));
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(CreateOwnFile(dir.File("hang.txt")), nullptr);  // never an existing file
  StartResult started = StartResult::kCannotStart;
  const auto hang = StartWithOutput({ipconfig, "/hang"}, *output, started);
  ASSERT_NE(hang, nullptr);
  EXPECT_EQ(started, StartResult::kStarted);
  EXPECT_FALSE(hang->HasEnded());
  const auto before = std::chrono::steady_clock::now();
  hang->Kill();
  EXPECT_TRUE(hang->HasEnded());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

// A program waited for: its output collected, its status, its time-out; never a program by a
// name that would be searched for.
TEST(WindowsRunAndWaitTest, CollectsOutputAndStatusAndKillsWhatOverstays) {
  TempDir dir;
  const std::string probe = dir.File("probe.exe");
  PlaceProbe(probe);
  RunOptions collect;
  collect.timeout_ms = 20000;
  collect.collect_output = true;
  collect.max_output = 20;
  const RunResult listed = RunAndWait({probe, "/displaydns"}, collect);
  EXPECT_TRUE(listed.started);
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_EQ(listed.output, "Windows IP Configura");  // cut at the limit
  collect.max_output = 100;
  const RunResult failed = RunAndWait({probe, "/exit", "3"}, collect);
  EXPECT_EQ(failed.exit_code, 3);
  EXPECT_EQ(failed.output, "");  // the error output is not collected
  const auto before = std::chrono::steady_clock::now();
  collect.timeout_ms = 500;
  const RunResult hung = RunAndWait({probe, "/hang"}, collect);
  EXPECT_TRUE(hung.started && hung.timed_out);
  EXPECT_EQ(hung.exit_code, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_FALSE(RunAndWait({"probe.exe", "/exit", "0"}, {}).started);
  EXPECT_FALSE(RunAndWait({dir.File("missing.exe")}, {}).started);
}

// Installs over one folder take turns, also within one process; the lock of an ended holder is
// free again. Temporary files of a writer that has ended are removed, others are not.
TEST(WindowsInstallLockTest, TakesTurnsAndLeftoversOfEndedWritersGo) {
  TempDir dir;
  const std::string hosts = dir.File("hosts");
  auto first = LockInstalls(hosts, 0);
  ASSERT_NE(first, nullptr);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(LockInstalls(dir.File("hosts.ZRB"), 300), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
  EXPECT_NE(LockInstalls(dir.File("other\\hosts"), 0), nullptr);
  first.reset();
  EXPECT_NE(LockInstalls(hosts, 0), nullptr);

  // The process id of a writer that has ended.
  const std::string probe = dir.File("probe.exe");
  PlaceProbe(probe);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION ended{};
  std::string line = "\"" + probe + "\" /exit 0";
  ASSERT_TRUE(::CreateProcessA(probe.c_str(), line.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, nullptr, &startup, &ended));
  ::WaitForSingleObject(ended.hProcess, 20000);
  ::CloseHandle(ended.hThread);
  ::CloseHandle(ended.hProcess);
  const std::string stale = hosts + ".new-" + std::to_string(ended.dwProcessId) + "-7";
  const std::string older = hosts + ".new-123456789";
  const std::string mine = hosts + ".new-" + std::to_string(::GetCurrentProcessId()) + "-7";
  for (const auto& path : {stale, older, mine}) WriteFile(path, "partial");
  EXPECT_EQ(RemoveStaleReplacements(hosts), 2);
  EXPECT_FALSE(testing::Exists(stale) || testing::Exists(older));
  EXPECT_TRUE(testing::Exists(mine));
}

// The log is appended to, created when missing, never a folder.
TEST(WindowsLogTest, AppendsAndRefusesAFolder) {
  TempDir dir;
  EXPECT_TRUE(AppendToLog(dir.File("log.txt"), "one\r\n"));
  EXPECT_TRUE(AppendToLog(dir.File("log.txt"), "two\r\n"));
  EXPECT_EQ(ReadFile(dir.File("log.txt")), "one\r\ntwo\r\n");
  std::filesystem::create_directory(dir.File("folder"));
  EXPECT_FALSE(AppendToLog(dir.File("folder"), "x"));
  EXPECT_FALSE(AppendToLog("", "x"));
}

}  // namespace
}  // namespace vellomar::platform
