// Who blocks a name: which lines of the sources and of the hosts file map it, read in pieces of
// any size, and whether the allowlist frees it.
#include "export/name_query.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace vellomar::exports {
namespace {

using Files = std::map<std::string, std::string>;  // "hosts" is the hosts file
using Places = std::vector<std::string>;           // "file:line address name [blocks]"

struct Row {
  const char* what;
  Files files;
  const char* asked;
  Places places;
  bool allowed = false;
};

const std::string kLong(70000, 'a');

TEST(NameQueryTest, FindsExactlyTheLinesThatMapTheNameWhateverThePieceSize) {
  const std::vector<Row> table = {
      {"exact",
       {{"H_Ads.txt", "0.0.0.0 ads.example.com\n"}},
       "ads.example.com",
       {"H_Ads.txt:1 0.0.0.0 ads.example.com blocks"}},
      {"case",
       {{"H_Ads.txt", "# x\n0.0.0.0 ADS.Example.com\n"}},
       "Ads.EXAMPLE.com",
       {"H_Ads.txt:2 0.0.0.0 ADS.Example.com blocks"}},
      {"trailing dot",
       {{"H_Ads.txt", "127.0.0.1 ads.example.com.\n"}},
       "ads.example.com.",
       {"H_Ads.txt:1 127.0.0.1 ads.example.com. blocks"}},
      {"comments",
       {{"H_Ads.txt", "# 0.0.0.0 ads.example.com\n0.0.0.0 a.b #ads.example.com\n"}},
       "ads.example.com",
       {}},
      {"suffix, prefix, no address",
       {{"H_Ads.txt",
         "0.0.0.0 xads.example.com ads.example.com.evil\n0.0.0.0 ads.example.co\n"
         "ads.example.com\n"}},
       "ads.example.com",
       {}},
      {"several places, header first",
       {{"H_Ads.txt", "0.0.0.0 a.b\n\n0.0.0.0 x.y ads.example.com\n10.0.0.5 ads.example.com\n"},
        {"H_0Header.txt", ":: ads.example.com ads.example.com\n"}},
       "ads.example.com",
       {"H_0Header.txt:1 :: ads.example.com blocks", "H_Ads.txt:3 0.0.0.0 ads.example.com blocks",
        "H_Ads.txt:4 10.0.0.5 ads.example.com"}},
      {"CR LF, no last line break",
       {{"H_Ads.txt", "0.0.0.0 a.b\r\n0.0.0.0 ads.example.com\r\n::1\tads.example.com"}},
       "ads.example.com",
       {"H_Ads.txt:2 0.0.0.0 ads.example.com blocks", "H_Ads.txt:3 ::1 ads.example.com blocks"}},
      {"a line past 64 KiB is judged by its start",
       {{"H_Ads.txt", "0.0.0.0 " + kLong + " ads.example.com\n0.0.0.0 ads.example.com\n"}},
       "ads.example.com",
       {"H_Ads.txt:2 0.0.0.0 ads.example.com blocks"}},
      {"the hosts file",
       {{"hosts", "127.0.0.1 localhost\n10.0.0.5 nas.home # mine\n"}},
       "NAS.home",
       {"hosts:2 10.0.0.5 nas.home"}},
      {"allowlist",
       {{"H_Ads.txt", "0.0.0.0 ads.example.com\n"}, {"allow.txt", "*.example.com\n"}},
       "ads.example.com",
       {"H_Ads.txt:1 0.0.0.0 ads.example.com blocks"},
       true},
  };
  for (const Row& row : table) {
    testing::TempDir folder;
    for (const auto& [file, text] : row.files) testing::WriteFile(folder.File(file), text);
    const auto name = QueryableName(row.asked);
    ASSERT_TRUE(name) << row.what;
    for (const std::size_t chunk : {support::kReadChunkBytes, std::size_t{3}}) {
      const NameQuery query = QueryName(folder.path(), folder.File("hosts"), *name, chunk);
      Places places;
      for (const NamePlace& place : query.places) {
        places.push_back((place.hosts_file ? std::string("hosts") : place.file) + ":" +
                         std::to_string(place.at.line) + " " + place.at.address + " " +
                         place.at.name + (place.at.blocks ? " blocks" : ""));
      }
      EXPECT_EQ(places, row.places) << row.what << ", pieces of " << chunk;
      EXPECT_EQ(query.allowed, row.allowed) << row.what;
      // No hosts file is a hosts file that could not be read, and said so.
      EXPECT_EQ(query.unread.size(), row.files.count("hosts") ? 0u : 1u) << row.what;
    }
  }
}

TEST(NameQueryTest, RefusesWhatNoHostsLineCanHoldAndSaysWhatItCouldNotRead) {
  // The name looked for, "" when there is none.
  const std::vector<std::pair<std::string, std::string>> names = {
      {"Ads.Example.COM..", "ads.example.com"},
      {"_dmarc.x", "_dmarc.x"},
      {"", ""},
      {".", ""},
      {"a b", ""},
      {"a#b", ""},
      {std::string(254, 'a'), ""}};
  for (const auto& [asked, looked_for] : names) {
    EXPECT_EQ(QueryableName(asked).value_or(""), looked_for) << asked;
  }
  testing::TempDir folder;
  testing::WriteFile(folder.File("H_Bad.txt"), std::string("0.0.0.0 a.b\0", 12));
  testing::WriteFile(folder.File("H_Good.txt"), "0.0.0.0 a.b\n");
  const NameQuery query = QueryName(folder.path(), {}, "a.b");
  ASSERT_TRUE(query.unread.size() == 1 && query.places.size() == 1);
  EXPECT_EQ(query.unread[0].file + " " + query.places[0].file, "H_Bad.txt H_Good.txt");
  EXPECT_EQ(query.unread[0].why, platform::ReadStatus::kNotText);
  EXPECT_EQ(QueryName(folder.File("none"), {}, "a.b").unread.size(), 1u);
}

}  // namespace
}  // namespace vellomar::exports
