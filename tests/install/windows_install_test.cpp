// Merging and installing on Windows (or under Wine), into a hosts file in a temporary folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/test_util.h"
#include "common/windows_test_util.h"
#include "install/host_update.h"
#include "install/privileged.h"
#include "merge/address_mode.h"
#include "merge/merge_writer.h"
#include "support/file_reader.h"
#include "support/line_end.h"

namespace vellomar::install {
namespace {

using namespace vellomar::testing;  // TempDir, WriteFile, ReadFile, Exists, Entries, Holder

// Written by the program before (it names a source), so no original is kept beside it.
const std::string kOld = "127.0.0.1 localhost\r\n# [Start of H_Old.txt entries]\r\n# old hosts\r\n";

// A temporary folder laid out like a system: etc\hosts, the merged file, the log.
struct Layout {
  TempDir dir;
  std::string etc = dir.File("etc");
  std::string hosts = etc + "\\hosts";
  std::string backup = hosts + ".ZRB";
  std::string merged = dir.File("M_Hosts.txt");
  support::LogTarget log{dir.File("vellomar_Log.txt"), support::NativeLineEnd(), {}};

  Layout() {
    std::filesystem::create_directories(etc);
    WriteFile(hosts, kOld);
  }
  // Merges a header and one source in the native line end into M_Hosts.txt.
  std::string Merge(const std::string& source) const {
    merge::MergeWriter writer(merged, merge::AddressMode::kUse0000, support::NativeLineEnd(),
                              "07/12/2025 01:08:00");
    writer.AddHeader("# Head #CREATEDDATE#\r\n");
    writer.AddSource("H_A.txt", source);
    EXPECT_EQ(writer.Commit(), merge::MergeWriter::CommitResult::kReplaced);
    return ReadFile(merged);
  }
  // Reads the merged file as the programs do before they install it; false when it cannot be
  // read, and then nothing is installed.
  bool Update() const {
    std::string bytes;
    if (support::ReadWholeFile(merged, bytes, support::InstallReadOptions()) !=
        platform::ReadStatus::kOk) {
      return false;
    }
    (void)InstallHostsBytes(bytes, hosts, log);
    return true;
  }
};

TEST(WindowsHostUpdateTest, InstallsTheMergedFileOverAReadOnlyHostsAndKeepsItsMark) {
  Layout s;
  const std::string merged = s.Merge("127.0.0.1 ads.example\r\n127.0.0.1 localhost");
  EXPECT_TRUE(Contains(merged, "\r\n0.0.0.0 ads.example\r\n127.0.0.1 localhost\r\n"));
  ASSERT_TRUE(::SetFileAttributesA(s.hosts.c_str(), FILE_ATTRIBUTE_READONLY));
  s.Update();
  EXPECT_EQ(ReadFile(s.hosts), merged);
  EXPECT_EQ(ReadFile(s.backup), kOld);
  EXPECT_NE(AttributesOf(s.hosts) & FILE_ATTRIBUTE_READONLY, 0u);
  // The backup carries no mark that would stop the next install from replacing it.
  EXPECT_EQ(AttributesOf(s.backup) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(Exists(s.log.path));
  EXPECT_EQ(Entries(s.etc), 2);
  ::SetFileAttributesA(s.hosts.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Nothing is lost whoever holds which file: the hosts file holds its old or its whole new
// content, and each step that did not take effect is logged.
TEST(WindowsHostUpdateTest, FilesHeldOpenByOtherProgramsLoseNothing) {
  {  // A reader that lets others write but not delete: the hosts file is rewritten in place.
    Layout s;
    const std::string merged = s.Merge("0.0.0.0 a");
    const Holder reader(s.hosts, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    s.Update();
    EXPECT_EQ(ReadFile(s.hosts), merged);
    EXPECT_EQ(ReadFile(s.backup), kOld);
    EXPECT_FALSE(Exists(s.log.path));
    EXPECT_EQ(Entries(s.etc), 2);
  }
  {  // One that lets nobody write: the hosts file stays as it was.
    Layout s;
    s.Merge("0.0.0.0 a");
    const Holder locker(s.hosts, GENERIC_READ, FILE_SHARE_READ);
    s.Update();
    EXPECT_EQ(ReadFile(s.hosts), kOld);
    EXPECT_EQ(ReadFile(s.backup), kOld);
    EXPECT_EQ(ReadFile(s.log.path), "Could not Kill " + s.hosts + "\r\n");
    EXPECT_EQ(Entries(s.etc), 2);
  }
  {  // A merged file still being written is not installed at all.
    Layout s;
    s.Merge("0.0.0.0 a");
    const Holder writer(s.merged, GENERIC_WRITE, FILE_SHARE_READ);
    EXPECT_FALSE(s.Update());
    EXPECT_EQ(ReadFile(s.hosts), kOld);
  }
}

// The helper beside the programs, by the full path the session gives it.
std::string Helper() { return std::filesystem::absolute(VELLOMAR_HELPER).string(); }

// The helper's exit status when it is started with `argument` and, unless `frame` is nullopt,
// served `frame` as it is through a pipe of this process named `argument`.
int HelperExit(const std::string& argument, std::optional<std::string> frame = std::nullopt) {
  platform::RunOptions options;
  options.timeout_ms = 20000;
  if (!frame) return platform::RunAndWait({Helper(), argument}, options).exit_code;
  const HANDLE pipe = ::CreateNamedPipeA(argument.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                         1 << 16, 1 << 16, 0, nullptr);
  EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
  platform::RunResult run;
  std::thread helper([&] { run = platform::RunAndWait({Helper(), argument}, options); });
  if (::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
    DWORD written = 0;
    ::WriteFile(pipe, frame->data(), static_cast<DWORD>(frame->size()), &written, nullptr);
    ::FlushFileBuffers(pipe);  // read, then the end of the pipe: a frame cut short stays short
  }
  ::CloseHandle(pipe);
  helper.join();
  return run.exit_code;
}

// The length in front of the bytes, as the caller sends it.
std::string Framed(std::uint64_t length, const std::string& bytes) {
  std::string frame;
  for (int i = 0; i < 8; ++i) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
  return frame + bytes;
}

// The helper takes nothing but its caller's pipe and refuses what no caller sends, each with its
// status and before it looks at any hosts file; the caller's side ends each run the same way.
TEST(WindowsInstallHelperTest, RefusesAnythingButItsCallersPipeAndFrame) {
  using enum HelperStatus;
  const std::string pipe = "\\\\.\\pipe\\vellomar-install-";
  const std::string me = pipe + std::to_string(::GetCurrentProcessId()) + "-";
  const std::string random = "0123456789abcdef0123456789abcdef";
  for (const auto& [argument, frame, status] :
       std::vector<std::tuple<std::string, std::optional<std::string>, HelperStatus>>{
           {"\\\\.\\pipe\\other", std::nullopt, kUsage},
           {me + random.substr(1), std::nullopt, kUsage},                    // too short
           {me + "0123456789ABCDEF0123456789ABCDEF", std::nullopt, kUsage},  // not the form
           {me + random, std::nullopt, kUsage},                              // no such pipe
           // Served by another process (what it sends would be refused later, never installed).
           {pipe + "4-" + random, Framed(3, std::string("a\0b", 3)), kUsage},
           {me + random, Framed(platform::kMaxFileBytes + 1, ""), kTooLarge},
           {me + random, Framed(100, "0.0.0.0 a\n"), kUsage},  // cut short
           {me + random, Framed(3, std::string("a\0b", 3)), kNotText},
           {me + random, Framed(0, ""), kEmptyInput}}) {
    EXPECT_EQ(HelperExit(argument, frame), static_cast<int>(status)) << argument;
  }
  EXPECT_EQ(platform::RunAndWait({Helper()}, {}).exit_code, static_cast<int>(kUsage));

  // Through the caller's side: the helper by its full path beside the programs, or none.
  const auto command = platform::PrivilegedInstallCommand(
      platform::InstallHelperPath(std::filesystem::path(Helper()).parent_path().string()), {});
  EXPECT_EQ(command, (std::vector<std::string>{Helper()}));
  EXPECT_TRUE(platform::PrivilegedInstallCommand("vellomar-install-helper.exe", {}).empty());
  const auto launcher = platform::CreateSystemLauncher();
  const platform::RunResult refused = launcher->RunPrivileged(command, std::string("a\0b", 3));
  EXPECT_EQ(refused.exit_code, static_cast<int>(kNotText));
  EXPECT_EQ(ReadHelperExit(refused, command).result, HostUpdateOutcome::Result::kNotRead);
  TempDir dir;
  const platform::RunResult missing = launcher->RunPrivileged({dir.File("helper.exe")}, "x");
  EXPECT_FALSE(missing.started || missing.declined);
  EXPECT_TRUE(platform::PrivilegedInstallCommand(dir.File("helper.exe"), {}).empty());
}

}  // namespace
}  // namespace vellomar::install
