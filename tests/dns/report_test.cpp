#include "dns/report.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_util.h"
#include "support/text.h"

namespace vellomar::dns {
namespace {

using support::LineEnd;
using support::ReplaceAll;
using enum LineEnd;

std::string Fixture(const std::string& name) {
  return testing::ReadFile(std::string(VELLOMAR_DNS_FIXTURES) + "/" + name);
}

// `text` padded with blanks to the width of the name column.
std::string Column(const std::string& text) {
  return text + std::string(kNameColumnWidth - text.size(), ' ');
}

TEST(BuildReportTest, LaysOutEachKindOfListing) {
  const std::string name = "Record Name . . . . . : ";
  const std::string a = "A (Host) Record . . . : ";
  const std::string v6 = "2606:2800:220:1:248:1893:25c8:1946";
  const struct {
    std::string listing;
    LineEnd line_end;
    std::string report;
  } cases[] = {
      // A 12-character name: blank, name, 32 blanks, tab, value, line end.
      {"    " + name + "host1.lan.de\r\n    Record Type . . . . . : 1\r\n    " + a +
           "1.2.3.4\r\n\r\n@finishednow@ \r\n",
       kCrLf, " host1.lan.de" + std::string(32, ' ') + "\t 1.2.3.4\r\n"},
      {name + "two\r\n" + a + "10.0.0.1\r\nAAAA Record . . . . . : " + v6 + "\r\n", kCrLf,
       Column(" two") + "\t 10.0.0.1\t " + v6 + "\r\n"},
      {name + std::string(50, 'n') + "\r\n" + a + "9.9.9.9\r\n", kCrLf,
       " " + std::string(44, 'n') + "\t 9.9.9.9\r\n"},
      // Values before the first name: a line without a name column; nothing is trimmed.
      {"PTR Record  . . . . . : early \r\nA (Host) Record . . . :5.6.7.8\r\n" + name + "later\r\n",
       kCrLf, " early \t5.6.7.8\r\n" + Column(" later") + "\r\n"},
      // Another letter case is no label: the value joins the previous record.
      {name + "first\r\nrecord name . . . . . : second\r\n" + a + "1.1.1.1\r\n", kCrLf,
       Column(" first") + "\t 1.1.1.1\r\n"},
      {name + "ex@finishednow@ample\r\n@finishednow@" + a + "1.2.3.4\r\n", kCrLf,
       Column(" example") + "\t 1.2.3.4\r\n"},
      {"Scope protocol=dns\nNo entries.\n\n@finishednow@\n", kLf, ""},
      {name + "b\rc\nd\r\r\n", kCrLf, Column(" bcd") + "\r\n"},  // a lone CR or LF is dropped
      {"a.x IN AAAA NODATA\nin.x IN\n", kLf, Column(" a.x") + "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildReport(c.listing, c.line_end), c.report) << c.listing;
}

TEST(BuildReportTest, MatchesTheFixtureReportsByteForByte) {
  const std::string windows = Fixture("displaydns_windows.txt");
  const std::string linux_listing = Fixture("show_cache_linux.txt");
  ASSERT_FALSE(windows.empty() || linux_listing.empty());
  // They hold no-value records, AAAA values, a name over 44 characters, negative resolvectl ones.
  EXPECT_EQ(BuildReport(windows, kCrLf), Fixture("report_windows.txt"));
  EXPECT_EQ(BuildReport(linux_listing, kLf), Fixture("report_linux.txt"));
  EXPECT_EQ(BuildReport(ReplaceAll(linux_listing, "\n", "\r\n"), kCrLf),
            ReplaceAll(Fixture("report_linux.txt"), "\n", "\r\n"));
}

}  // namespace
}  // namespace vellomar::dns
