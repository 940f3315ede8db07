#include "catalogue/source_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace vellomar::catalogue {
namespace {

using testing::TempDir;
using testing::WriteFile;
using Names = std::vector<std::string>;

TEST(MatchesPatternTest, WildcardsMatchAndAsciiCaseIsIgnored) {
  EXPECT_TRUE(MatchesPattern("h_AdServers.TXT", kSourcePattern));
  EXPECT_TRUE(MatchesPattern("H_.txt", kSourcePattern));  // '*' may stand for nothing
  EXPECT_FALSE(MatchesPattern("H_a.txt.bak", kSourcePattern));
  EXPECT_FALSE(MatchesPattern("XH_a.txt", kSourcePattern));
  EXPECT_TRUE(MatchesPattern("H_a.txt", "H_?.txt"));
  EXPECT_FALSE(MatchesPattern("H_.txt", "H_?.txt"));
  EXPECT_TRUE(MatchesPattern("H_a_b_c.txt", "H_*_*.txt"));  // '*' gives back what it took
  EXPECT_FALSE(MatchesPattern("ab", "a*b*c"));
  EXPECT_FALSE(MatchesPattern("H_\xC3\xA9.txt", "H_\xC3\x89.txt"));  // only ASCII letters fold
}

TEST(ListSourcesTest, ListsVisibleOrdinaryMatchingFilesSortedWithoutRegardToCase) {
  if (testing::OnWindows())
    GTEST_SKIP() << "needs control characters in names, symbolic links and dot files "
                    "as hidden";
  namespace fs = std::filesystem;
  TempDir dir;
  // Control bytes in a name would break the marker line it is written into.
  for (const char* name :
       {"H_b.txt", "h_A.txt", "H_C.TXT", "H_a.txt", "notes.txt", ".H_hid.txt",
        "H_a\n0.0.0.0 evil.txt", "H_c\t.txt", "H_d\x7f.txt", "H_x,y.txt", "H_z entries].txt"}) {
    WriteFile(dir.File(name), "x");
  }
  fs::create_directory(dir.File("H_folder.txt"));
  fs::create_symlink(dir.File("H_b.txt"), dir.File("H_link.txt"));
  fs::create_directory_symlink(dir.File("H_folder.txt"), dir.File("H_folderlink.txt"));
  fs::create_symlink(dir.File("H_gone.txt"), dir.File("H_dangling.txt"));
  // Names equal but for case keep a fixed order: byte order, upper case first.
  const auto listing = ListSources(dir.path());
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->names, (Names{"H_a.txt", "h_A.txt", "H_b.txt", "H_C.TXT", "H_link.txt"}));
  // Names a start marker could not give back are kept apart, to be said.
  EXPECT_EQ(listing->unmergeable, (Names{"H_x,y.txt", "H_z entries].txt"}));
  for (const auto& [name, why] : {std::pair{"notes.txt", Exclusion::kNotASourceName},
                                  {"H_c\t.txt", Exclusion::kControlCharacter},
                                  {"H_folder.txt", Exclusion::kNotAFile},
                                  {"H_folderlink.txt", Exclusion::kNotAFile},
                                  {"H_dangling.txt", Exclusion::kNotAFile},
                                  {"H_x,y.txt", Exclusion::kMarkerCannotHold}}) {
    EXPECT_EQ(WhyNotListed(dir.path(), name), why) << name;
  }
  EXPECT_EQ(ListSources(dir.File("missing")), std::nullopt);
  EXPECT_EQ(ListSources(dir.File("H_a.txt")), std::nullopt);
}

}  // namespace
}  // namespace vellomar::catalogue
