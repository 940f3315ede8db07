#include "dns/report.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_util.h"
#include "support/text.h"

namespace vellomar::dns {
namespace {

using support::LineEnd;

std::string Fixture(const std::string& name) {
  return testing::ReadFile(std::string(VELLOMAR_DNS_FIXTURES) + "/" + name);
}

// `text` padded with blanks to the width of the name column.
std::string Column(const std::string& text) {
  return text + std::string(kNameColumnWidth - text.size(), ' ');
}

TEST(BuildReportTest, OneAddressRecordGivesNameColumnTabAndValue) {
  const std::string listing =
      "    Record Name . . . . . : host1.lan.de\r\n"
      "    Record Type . . . . . : 1\r\n"
      "    Time To Live  . . . . : 600\r\n"
      "    Data Length . . . . . : 4\r\n"
      "    Section . . . . . . . : Answer\r\n"
      "    A (Host) Record . . . : 1.2.3.4\r\n"
      "\r\n"
      "@finishednow@ \r\n";
  EXPECT_EQ(BuildReport(listing, LineEnd::kCrLf),
            " host1.lan.de" + std::string(32, ' ') + "\t 1.2.3.4\r\n");
}

TEST(BuildReportTest, LaysOutValuesPerRecord) {
  // Two values share the record's line, tab-separated, with no tab at the end.
  EXPECT_EQ(BuildReport("Record Name . . . . . : two\r\n"
                        "A (Host) Record . . . : 10.0.0.1\r\n"
                        "AAAA Record . . . . . : 2001:db8::1\r\n",
                        LineEnd::kCrLf),
            Column(" two") + "\t 10.0.0.1\t 2001:db8::1\r\n");
  // A record without values (a CNAME) gives the column alone; values keep every colon.
  EXPECT_EQ(
      BuildReport("Record Name . . . . . : alias\r\n"
                  "CNAME Record  . . . . : target\r\n"
                  "Record Name . . . . . : v6\r\n"
                  "AAAA Record . . . . . : 2606:2800:220:1:248:1893:25c8:1946\r\n",
                  LineEnd::kCrLf),
      Column(" alias") + "\r\n" + Column(" v6") + "\t 2606:2800:220:1:248:1893:25c8:1946\r\n");
  // Values before the first name form a line without a name column; nothing is trimmed.
  EXPECT_EQ(BuildReport("PTR Record  . . . . . : early.example \r\n"
                        "A (Host) Record . . . :5.6.7.8\r\n"
                        "Record Name . . . . . : later\r\n",
                        LineEnd::kCrLf),
            " early.example \t5.6.7.8\r\n" + Column(" later") + "\r\n");
}

TEST(BuildReportTest, CutsLongNamesToTheColumnWidth) {
  const std::string name = "abcdefghij.abcdefghij.abcdefghij.abcdefghij.example";
  EXPECT_EQ(
      BuildReport("Record Name . . . . . : " + name + "\r\nA (Host) Record . . . : 9.9.9.9\r\n",
                  LineEnd::kCrLf),
      " " + name.substr(0, 44) + "\t 9.9.9.9\r\n");
}

TEST(BuildReportTest, ClassifiesByExactLabelsInTableOrder) {
  // Another letter case is no label: the value joins the previous record.
  EXPECT_EQ(BuildReport("Record Name . . . . . : first\r\n"
                        "record name . . . . . : second\r\n"
                        "RECORD NAME . . . . . : third\r\n"
                        "A (Host) Record . . . : 1.1.1.1\r\n",
                        LineEnd::kCrLf),
            Column(" first") + "\t 1.1.1.1\r\n");
  // The record-name label wins over a value label standing before it; the name is the text
  // after the line's first colon.
  EXPECT_EQ(BuildReport("A (Host) Record . . . : Record Name . . . . . : x\r\n", LineEnd::kCrLf),
            Column(" Record Name . . . . . : x") + "\r\n");
  // Skipped labels contribute nothing, even when they carry text that looks like a record.
  EXPECT_EQ(BuildReport("Section . . . . . . . : a IN A 1.2.3.4\r\n", LineEnd::kCrLf), "");
}

TEST(BuildReportTest, GivesEmptyTextWhenNothingWasListed) {
  EXPECT_EQ(BuildReport("", LineEnd::kCrLf), "");
  EXPECT_EQ(BuildReport("@finishednow@ \r\n", LineEnd::kCrLf), "");
  // A system without show-cache writes nothing to the capture file but the marker.
  EXPECT_EQ(BuildReport("@finishednow@\n", LineEnd::kLf), "");
  EXPECT_EQ(BuildReport("\r\nWindows IP Configuration\r\n\r\n@finishednow@ \r\n", LineEnd::kCrLf),
            "");
  EXPECT_EQ(BuildReport("Scope protocol=dns\nNo entries.\n\n@finishednow@\n", LineEnd::kLf), "");
}

TEST(BuildReportTest, RemovesEveryMarkerWhereverItStands) {
  EXPECT_EQ(BuildReport("Record Name . . . . . : ex@finishednow@ample.com\r\n@finishednow@"
                        "A (Host) Record . . . : 1.2.3.4@finishednow@\r\n",
                        LineEnd::kCrLf),
            Column(" example.com") + "\t 1.2.3.4\r\n");
}

TEST(BuildReportTest, SplitsLinesPerDialect) {
  const std::string crlf = "Record Name . . . . . : a\r\nA (Host) Record . . . : 1.2.3.4\r\n";
  const std::string lf = "Record Name . . . . . : a\nA (Host) Record . . . : 1.2.3.4\n";
  EXPECT_EQ(BuildReport(crlf, LineEnd::kCrLf), Column(" a") + "\t 1.2.3.4\r\n");
  EXPECT_EQ(BuildReport(lf, LineEnd::kLf), Column(" a") + "\t 1.2.3.4\n");
  // On the LF dialect a CR before the LF is part of the line end.
  EXPECT_EQ(BuildReport(crlf, LineEnd::kLf), Column(" a") + "\t 1.2.3.4\n");
  // On the CR LF dialect a bare-LF listing is one line; its LFs are dropped, so the whole
  // listing becomes the text after the first colon, cut to the column.
  EXPECT_EQ(BuildReport(lf, LineEnd::kCrLf),
            " aA (Host) Record . . . : 1.2.3.4" + std::string(12, ' ') + "\r\n");
  // A lone CR inside a line is dropped on either dialect.
  EXPECT_EQ(BuildReport("Record Name . . . . . : b\rc\n", LineEnd::kLf), Column(" bc") + "\n");
}

TEST(BuildReportTest, ReadsResolvectlRecords) {
  // Addresses and pointers carry their value; other types and negative entries give the name.
  EXPECT_EQ(BuildReport("Scope protocol=dns ifindex=3 ifname=wlan0 DNSSEC=no/unsupported\n"
                        "---------------------------------------------\n"
                        "  host.example IN A 192.0.2.1  \n"
                        "host.example IN A 192.0.2.2\n"
                        "alias.example IN CNAME host.example\n"
                        "missing.example IN AAAA NODATA\n"
                        "gone.example IN ANY NXDOMAIN\n"
                        "in.example IN\n"
                        "Record Name IN A 1.1.1.1\n",
                        LineEnd::kLf),
            Column(" host.example") + "\t192.0.2.1\n" + Column(" host.example") + "\t192.0.2.2\n" +
                Column(" alias.example") + "\n" + Column(" missing.example") + "\n" +
                Column(" gone.example") + "\n");
  // A record line closes a pending labelled record.
  EXPECT_EQ(BuildReport("Record Name . . . . . : old\r\nnew.example IN PTR p.example\r\n",
                        LineEnd::kCrLf),
            Column(" old") + "\r\n" + Column(" new.example") + "\tp.example\r\n");
}

TEST(BuildReportTest, MatchesTheFixtureReportsByteForByte) {
  const std::string windows = Fixture("displaydns_windows.txt");
  const std::string windows_report = Fixture("report_windows.txt");
  ASSERT_FALSE(windows.empty());
  ASSERT_FALSE(windows_report.empty());
  EXPECT_EQ(BuildReport(windows, LineEnd::kCrLf), windows_report);
  EXPECT_EQ(BuildReport(support::ReplaceAll(windows, "\r\n", "\n"), LineEnd::kLf),
            support::ReplaceAll(windows_report, "\r\n", "\n"));

  const std::string linux_listing = Fixture("show_cache_linux.txt");
  const std::string linux_report = Fixture("report_linux.txt");
  ASSERT_FALSE(linux_listing.empty());
  ASSERT_FALSE(linux_report.empty());
  EXPECT_EQ(BuildReport(linux_listing, LineEnd::kLf), linux_report);
  EXPECT_EQ(BuildReport(support::ReplaceAll(linux_listing, "\n", "\r\n"), LineEnd::kCrLf),
            support::ReplaceAll(linux_report, "\n", "\r\n"));
}

}  // namespace
}  // namespace vellomar::dns
