// Merging and installing on Windows (or under Wine), into a hosts file in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/test_util.h"
#include "common/windows_test_util.h"
#include "install/host_update.h"
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

}  // namespace
}  // namespace vellomar::install
