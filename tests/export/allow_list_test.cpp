// The allowlist: what a line of allow.txt allows, and what it does not.
#include "export/allow_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_util.h"

namespace vellomar::exports {
namespace {

TEST(AllowListTest, ANameOrAWildcardAllowsExactlyWhatItSays) {
  const AllowList list = AllowList::Parse(
      "# kept by hand\r\n  Ads.Example.COM  \n*.cdn.example # images\n\n*.\nlocal.\n");
  const std::vector<std::pair<std::string, bool>> table = {
      {"ads.example.com", true},
      {"ADS.example.com.", true},
      {"x.ads.example.com", false},
      {"example.com", false},
      {"cdn.example", true},
      {"a.b.cdn.example", true},
      {"xcdn.example", false},
      {"local", true},
      {"", false},
      {"# kept by hand", false},
      {"images", false},
  };
  for (const auto& [name, allowed] : table) EXPECT_EQ(list.Allows(name), allowed) << name;
  EXPECT_TRUE(AllowList::Parse("# only a comment\n").Empty());
}

TEST(AllowListTest, LoadsFromTheSourceFolderAndIsEmptyWithoutAFile) {
  testing::TempDir folder;
  platform::ReadStatus status = platform::ReadStatus::kUnreadable;
  EXPECT_TRUE(AllowList::Load(folder.path(), status).Empty());
  EXPECT_EQ(status, platform::ReadStatus::kOk);
  testing::WriteFile(folder.File("allow.txt"), "good.example\n");
  EXPECT_TRUE(AllowList::Load(folder.path(), status).Allows("good.example"));
  testing::WriteFile(folder.File("allow.txt"), std::string("a\0b", 3));
  EXPECT_TRUE(AllowList::Load(folder.path(), status).Empty());
  EXPECT_NE(status, platform::ReadStatus::kOk);
}

}  // namespace
}  // namespace vellomar::exports
