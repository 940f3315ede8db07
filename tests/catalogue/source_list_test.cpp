#include "catalogue/source_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/version_report.h"
#include "common/test_util.h"

namespace vellomar::catalogue {
namespace {

using testing::TempDir;
using testing::WriteFile;
using Names = std::vector<std::string>;

TEST(MatchesPatternTest, WildcardsMatchAndAsciiCaseIsIgnored) {
  EXPECT_TRUE(MatchesPattern("H_adservers.txt", kSourcePattern));
  EXPECT_TRUE(MatchesPattern("h_AdServers.TXT", kSourcePattern));
  EXPECT_TRUE(MatchesPattern("H_.txt", kSourcePattern));  // '*' may stand for nothing
  EXPECT_FALSE(MatchesPattern("H_a.txt.bak", kSourcePattern));
  EXPECT_FALSE(MatchesPattern("H_a.txtx", kSourcePattern));
  EXPECT_FALSE(MatchesPattern("XH_a.txt", kSourcePattern));
  EXPECT_FALSE(MatchesPattern("H_a.tx", kSourcePattern));

  EXPECT_TRUE(MatchesPattern("H_a.txt", "H_?.txt"));
  EXPECT_FALSE(MatchesPattern("H_ab.txt", "H_?.txt"));
  EXPECT_FALSE(MatchesPattern("H_.txt", "H_?.txt"));
  // A '*' has to give back characters it took too early.
  EXPECT_TRUE(MatchesPattern("H_a_b_c.txt", "H_*_*.txt"));
  EXPECT_TRUE(MatchesPattern("xxaxxbxx", "*a*b*"));
  EXPECT_FALSE(MatchesPattern("ab", "a*b*c"));
  EXPECT_TRUE(MatchesPattern("", "*"));
  EXPECT_FALSE(MatchesPattern("a", ""));
  // Only ASCII letters fold; other bytes compare as they are.
  EXPECT_FALSE(MatchesPattern("H_\xC3\xA9.txt", "H_\xC3\x89.txt"));
  EXPECT_TRUE(MatchesPattern("H_\xC3\xA9.txt", "h_\xC3\xA9.TXT"));
}

TEST(ListSourcesTest, ListsMatchingFilesSortedWithoutRegardToCase) {
  TempDir dir;
  for (const char* name : {"H_b.txt", "h_A.txt", "H_C.TXT", "H_a.txt", "H_\xC3\xA9.txt",
                           "notes.txt", "H_b.txt.bak", "M_Hosts.txt"}) {
    WriteFile(dir.File(name), "0.0.0.0 x\n");
  }
  // Names equal but for case keep a fixed order: byte order, upper case first.
  EXPECT_EQ(ListSources(dir.path()),
            (Names{"H_a.txt", "h_A.txt", "H_b.txt", "H_C.TXT", "H_\xC3\xA9.txt"}));
  EXPECT_EQ(ListSources(dir.path() + "/"),
            (Names{"H_a.txt", "h_A.txt", "H_b.txt", "H_C.TXT", "H_\xC3\xA9.txt"}));
  EXPECT_EQ(ListSources(dir.path(), "*.bak"), Names{"H_b.txt.bak"});
}

TEST(ListSourcesTest, LeavesOutWhatIsNotAVisibleOrdinaryFileAndUnsafeNames) {
  namespace fs = std::filesystem;
  TempDir dir;
  WriteFile(dir.File("H_real.txt"), "x");
  WriteFile(dir.File(".H_hidden.txt"), "x");
  fs::create_directory(dir.File("H_folder.txt"));
  fs::create_symlink(dir.File("H_real.txt"), dir.File("H_link.txt"));
  fs::create_directory_symlink(dir.File("H_folder.txt"), dir.File("H_folderlink.txt"));
  fs::create_symlink(dir.File("H_gone.txt"), dir.File("H_dangling.txt"));
  // Control bytes would break the marker line the name is written into.
  for (const char* name :
       {"H_a\n0.0.0.0 evil.txt", "H_b\r.txt", "H_c\t.txt", "H_d\x7f.txt", "H_e\x1b.txt"}) {
    WriteFile(dir.File(name), "x");
  }
  EXPECT_EQ(ListSources(dir.path(), "*"), (Names{"H_link.txt", "H_real.txt"}));
}

TEST(ListSourcesTest, GivesNothingWhenTheFolderCannotBeRead) {
  TempDir dir;
  WriteFile(dir.File("H_file.txt"), "x");
  EXPECT_EQ(ListSources(dir.File("missing")), std::nullopt);
  EXPECT_EQ(ListSources(dir.File("H_file.txt")), std::nullopt);
  EXPECT_EQ(ListSources(""), std::nullopt);
  std::filesystem::create_directory(dir.File("empty"));
  EXPECT_EQ(ListSources(dir.File("empty")), Names{});
}

TEST(ListSourcesTest, GivesNothingForAFolderWithoutReadPermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempDir dir;
  std::filesystem::create_directory(dir.File("locked"));
  WriteFile(dir.File("locked/H_a.txt"), "x");
  ::chmod(dir.File("locked").c_str(), 0);
  EXPECT_EQ(ListSources(dir.File("locked")), std::nullopt);
}

TEST(IsReadableForReportTest, NeedsAVisibleFileOfAtLeastAHundredBytes) {
  TempDir dir;
  WriteFile(dir.File("short.txt"), std::string(99, 'x'));
  WriteFile(dir.File("enough.txt"), std::string(100, 'x'));
  WriteFile(dir.File(".hidden.txt"), std::string(500, 'x'));
  std::filesystem::create_directory(dir.File("folder"));
  EXPECT_FALSE(IsReadableForReport(dir.File("short.txt")));
  EXPECT_TRUE(IsReadableForReport(dir.File("enough.txt")));
  EXPECT_FALSE(IsReadableForReport(dir.File(".hidden.txt")));
  EXPECT_FALSE(IsReadableForReport(dir.File("folder")));
  EXPECT_FALSE(IsReadableForReport(dir.File("missing.txt")));
  EXPECT_FALSE(IsReadableForReport(""));
}

}  // namespace
}  // namespace vellomar::catalogue
