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
  // A real lookup would take the pattern; the existence test names one file exactly.
  for (const auto& path : {dir.File("hidden"), dir.File("system"), dir.File("both"),
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
  EXPECT_EQ(JoinPath("C:\\", "hosts"), "C:\\hosts");
  EXPECT_EQ(support::NativeLineEnd(), support::LineEnd::kCrLf);
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
  EXPECT_EQ(FirstExisting(EditorCandidates()), root.File("notepad.exe"));
  EXPECT_EQ(FirstExisting(ResolverToolCandidates()), root.File("system32\\ipconfig.exe"));
  EXPECT_EQ(FirstExisting(HostsCandidates()), hosts);
}

TEST(WindowsReadTest, GivesExactBytesOrNothingWhileAnotherProgramWrites) {
  TempDir dir;
  const std::string ten("ab\r\ncd\n\0e\r", 10);
  const std::string path = dir.File("ten.txt");
  WriteFile(path, ten);
  WriteFile(dir.File("hidden.txt"), "secret");
  Mark(dir.File("hidden.txt"), FILE_ATTRIBUTE_HIDDEN);
  std::string out;
  {
    const Holder reader(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(support::ReadWholeFile(path), ten);  // other readers do not stand in the way
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
  out = "left over";
  EXPECT_EQ(support::ReadWholeFile(path, out), kUnreadable);
  EXPECT_EQ(out, "");
}

// Names are listed as the ANSI code page spells them and read back by that spelling; a name
// the code page cannot spell is left out.
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
  EXPECT_TRUE(FileExists(hosts) && FolderExists(folder));
  auto file = CreateReplacementFile(hosts, hosts);
  ASSERT_NE(file, nullptr);
  file->Write("new");
  EXPECT_EQ(file->Commit(), ReplacementFile::CommitResult::kReplaced);
  file.reset();
  EXPECT_EQ(RewriteInPlace(hosts, "newer"), InPlaceResult::kRewritten);
  EXPECT_EQ(support::ReadWholeFile(hosts), "newer");
  // The system starts no process in a folder that long.
  EXPECT_FALSE(CreateSystemLauncher()->Start({"cmd"}, WindowStyle::kMinimizedNoFocus, folder));
  EXPECT_EQ(RemoveEntry(hosts), RemoveResult::kRemoved);
  // The folders go one by one: the removal of the temporary folder does not reach this deep.
  while (wide_folder.size() > 4 + std::filesystem::path(dir.path()).wstring().size()) {
    ASSERT_TRUE(::RemoveDirectoryW(wide_folder.c_str()));
    wide_folder.erase(wide_folder.find_last_of(L'\\'));
  }
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
  const std::string ipconfig = testing::PlaceProbe(dir.path(), "ipconfig");
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

  EXPECT_EQ(capture.Start(dir.path(), "ipconfig.exe"), Error::kToolMissing);  // no search

  // A tool that hangs (the probe, asked to) is killed at once.
  const auto output = CreateOwnFile(dir.File("hang.txt"));
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(CreateOwnFile(dir.File("hang.txt")), nullptr);  // never an existing file
  StartResult started = StartResult::kCannotStart;
  const auto hang = StartWithOutput({ipconfig, "/hang"}, *output, started);
  ASSERT_NE(hang, nullptr);
  EXPECT_FALSE(hang->HasEnded());
  hang->Kill();
  EXPECT_TRUE(hang->HasEnded());
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
  const std::string probe = testing::PlaceProbe(dir.path(), "probe");
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
  const std::string older = hosts + ".new-123456789";  // not of the form: someone else's
  const std::string mine = hosts + ".new-" + std::to_string(::GetCurrentProcessId()) + "-7";
  for (const auto& path : {stale, older, mine}) WriteFile(path, "partial");
  EXPECT_EQ(RemoveStaleReplacements(hosts), 1);
  EXPECT_FALSE(testing::Exists(stale));
  EXPECT_TRUE(testing::Exists(older) && testing::Exists(mine));
}

// Windows has no hang-up signal: a resolver's reload never pretends to have sent one.
TEST(WindowsHangUpTest, IsNotAvailable) {
  EXPECT_EQ(HangUpProgram(1, "dnsmasq"), HangUpResult::kUnsupported);
}

}  // namespace
}  // namespace vellomar::platform
