#include "catalogue/header_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "support/file_reader.h"
#include "support/line_end.h"

namespace vellomar::catalogue {
namespace {

using support::LineEnd;
using testing::TempDir;
using testing::WriteFile;
using Lines = std::vector<std::string_view>;
using Names = std::vector<std::string>;

constexpr LineEnd kBothDialects[] = {LineEnd::kCrLf, LineEnd::kLf};

// The lines joined, each followed by the dialect's line end.
std::string Text(const Lines& lines, LineEnd le) {
  std::string text;
  for (const auto line : lines) text.append(line).append(support::LineEndText(le));
  return text;
}

void ExpectReport(const HeaderReport& got, const HeaderReport& want) {
  EXPECT_EQ(got.version_text, want.version_text);
  EXPECT_EQ(got.updated, want.updated);
  EXPECT_EQ(got.created, want.created);
  EXPECT_EQ(got.source_names, want.source_names);
}

// Writes `text` to a file; the chunked file reader has to give what the whole-file text gives.
HeaderReport ReadBack(const TempDir& dir, const std::string& text, LineEnd le) {
  WriteFile(dir.File("M_Hosts.txt"), text);
  const auto got = ReadHeaderFile(dir.File("M_Hosts.txt"), le);
  ExpectReport(got, ReadHeader(support::ReadWholeFile(dir.File("M_Hosts.txt")), le));
  // So does the report of the text given in blocks, wherever they end.
  const std::vector<std::size_t> blocks = text.size() < (1 << 16)
                                              ? std::vector<std::size_t>{1, 2, 3, 7}
                                              : std::vector<std::size_t>{4093};
  for (const std::size_t block : blocks) {
    TextTally report(le);
    for (std::size_t at = 0; at < text.size(); at += block) {
      report.Add(std::string_view(text).substr(at, block));
    }
    EXPECT_EQ(report.Summary(), FileSummary(dir.File("M_Hosts.txt"), le)) << block;
    ExpectReport(report.Finish(), got);
  }
  return got;
}

TEST(ReadHeaderTest, TakesDatedValuesAndMarkerNamesInEitherDialect) {
  const std::string_view u = "# ------- Updated: u ---", c = "# ------- Created: c ---";
  const std::string_view nul("# ------- Updated: a\0b ---\0", 27);
  TempDir dir;
  for (const auto le : kBothDialects) {
    const auto expect = [&](const Lines& lines, const Lines& version_lines,
                            std::optional<std::string> updated, std::optional<std::string> created,
                            const Names& names) {
      SCOPED_TRACE(::testing::PrintToString(Text(lines, le)));
      const HeaderReport want{Text(version_lines, le), updated, created, names};
      ExpectReport(ReadHeader(Text(lines, le), le), want);
      ExpectReport(ReadBack(dir, Text(lines, le), le), want);
    };
    // The value ends at " ---", or runs to the line's end without one.
    expect(
        {"# Title", "# ------- Updated: 2024-01-02 ----", "# ------- Created: May 3", "0.0.0.0 a"},
        {"# ------- Updated: 2024-01-02 ----", "# ------- Created: May 3"}, "2024-01-02", "May 3",
        {});
    // A keyword at the line's end, or followed by one character only, gives empty text; a line
    // holding both marks is an update line.
    expect({"# ------- Created: c ------- Updated:", "# ------- Created: "},
           {"# ------- Created: c ------- Updated:", "# ------- Created: "}, "", "", {});
    // The value starts nine characters after the line's first keyword; the later line wins.
    const Lines odd = {"Updated:1 x # ------- Updated: 2", "# ------- Created: early",
                       "# ------- Created: late"};
    expect(odd, odd, " x #", "late", {});
    // Dash lines without a keyword are neither dated lines nor markers.
    expect({"# ------- Modified: 2024 ---", "# ------- # [Start of H_no.txt entries]",
            "#------- Created: no space", "# [Start of H_yes.txt entries] # ------"},
           {}, std::nullopt, std::nullopt, {"H_yes.txt # ------"});
    // Names as written: case kept, listed twice, split at ',', empty pieces dropped.
    expect({"# [Start of H_ads.txt entries]", "# [Start of h_ADS.txt entries]",
            "# [Start of H_ads.txt entries]", "# [Start of H_a.txt,,H_b.txt entries]",
            "# [Start of  entries]", "x # [Start of H_c entries] entries].txt y"},
           {}, std::nullopt, std::nullopt,
           {"H_ads.txt", "h_ADS.txt", "H_ads.txt", "H_a.txt", "H_b.txt", "H_c.txt y"});
    // Reading stops after the fourth dated line, and goes to the end after only two.
    expect({u, c, "# [Start of H_before.txt entries]", "# ------- Updated: 2",
            "# ------- Created: 2", "# [Start of H_after.txt entries]", "# ------- Updated: 3"},
           {u, c, "# ------- Updated: 2", "# ------- Created: 2"}, "2", "2", {"H_before.txt"});
    expect({u, c, "0.0.0.0 a", "# [Start of H_one.txt entries]", "#",
            "# [Start of H_two.txt entries]"},
           {u, c}, "u", "c", {"H_one.txt", "H_two.txt"});
    expect({}, {}, std::nullopt, std::nullopt, {});
    // NUL bytes are text like any other.
    expect({nul}, {nul}, std::string("a\0b", 3), std::nullopt, {});
  }
}

TEST(ReadHeaderTest, SplitsOnlyWhereTheDialectSplits) {
  // On CR LF a file of bare-LF lines is one line: it is an update line as a whole.
  const std::string lf =
      "# ------- Updated: u ---\n# ------- Created: c\n# [Start of H_a entries]\n";
  ExpectReport(ReadHeader(lf, LineEnd::kCrLf), {lf + "\r\n", "u", std::nullopt, {}});
  ExpectReport(ReadHeader(lf, LineEnd::kLf),
               {"# ------- Updated: u ---\n# ------- Created: c\n", "u", "c", {"H_a"}});
  // On LF the CR before an LF is line end, not value; a CR elsewhere is text.
  const std::string crlf = "# ------- Created: c\r\n# [Start of H_\rb.txt entries]\r\n";
  ExpectReport(ReadHeader(crlf, LineEnd::kLf),
               {"# ------- Created: c\n", std::nullopt, "c", {"H_\rb.txt"}});
  EXPECT_EQ(ReadHeader("# ------- Created: c\r", LineEnd::kLf).created, "c\r");
}

TEST(ReadHeaderFileTest, GivesWhatTheWholeTextGivesWhereverTheChunksEnd) {
  std::mt19937 random(2024);
  std::string noise;
  for (int i = 0; i < 400000; ++i) {
    noise += static_cast<char>(random() % 256);
    if (random() % 4000 == 0) noise += "# [Start of H_n.txt entries]\r\n";
    if (random() % 40000 == 0) noise += "\n# ------- Updated: n ---";
  }
  TempDir dir;
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(le == LineEnd::kLf ? "LF" : "CR LF");
    // Marker and dated lines and their line breaks, a bare LF in a dated line included,
    // across the chunk boundaries (2^17 bytes).
    const auto tail = Text({"\n# ------- Updated: u ---", "# [Start of H_a.txt entries]",
                            "0.0.0.0 a", "# [Start of H_b.txt entries]", "# ------- Created: c"},
                           le);
    for (std::size_t pad = (1 << 17) - 48; pad <= (1 << 17) + 3; ++pad) {
      const auto got = ReadBack(dir, std::string(pad, 'x') + "\r\n" + tail, le);
      ASSERT_EQ(got.source_names, (Names{"H_a.txt", "H_b.txt"})) << pad;
    }
    // A line several times longer than a chunk, with its marker at the far end.
    const auto huge = Text({"# ------- Updated: u"}, le) + std::string(5 << 20, '#') +
                      "# [Start of H_big.txt entries]";
    EXPECT_EQ(ReadBack(dir, huge, le).source_names, Names{"H_big.txt"});
    // Bytes of every value, with marker lines and, later, dated lines among them: reading
    // stops after the fourth dated line while the file is read on.
    EXPECT_FALSE(ReadBack(dir, noise, le).source_names.empty());
  }
}

TEST(FileSummaryTest, CountsLinesPerDialectAndGivesTheLength) {
  TempDir dir;
  const auto summary = [&](const std::string& bytes, LineEnd le) {
    WriteFile(dir.File("f.txt"), bytes);
    return FileSummary(dir.File("f.txt"), le);
  };
  EXPECT_EQ(summary(std::string("a\n\0\r\n\0", 6), LineEnd::kCrLf), "2 Lines - len: 6");
  // 3-byte lines put a CR LF pair across a boundary of the reads underneath.
  std::string big = "x";
  for (int i = 1; i < 200000; ++i) big += "\r\nx";
  for (const auto le : kBothDialects) {
    EXPECT_EQ(summary("a\r\nb\r\n", le), "3 Lines - len: 6");
    EXPECT_EQ(summary("", le), "0 Lines - len: 0");
    EXPECT_EQ(summary(big, le), "200000 Lines - len: 599998");
  }
}

// Also what reading the path once, without blocking and within the size cap, gives: a pipe
// (which blocked the open) and sparse files past the cap (minutes of NULs, or bad_alloc) are
// refused at once.
TEST(ReadHeaderFileTest, GivesNothingAndNoSummaryWhereNoReadableFileExists) {
#ifdef _WIN32
  GTEST_SKIP() << "hides a file by a leading '.' and needs FIFOs and /proc";
#else
  TempDir dir;
  WriteFile(dir.File(".hidden.txt"), "# [Start of H_a.txt entries]\r\n");
  ::mkfifo(dir.File("fifo.txt").c_str(), 0644);
  for (const std::string& path : {dir.File(".hidden.txt"), dir.File("fifo.txt")}) {
    EXPECT_TRUE(testing::RunInChild([&] {
      const HeaderReport report = ReadHeaderFile(path, LineEnd::kCrLf);
      return report.status != platform::ReadStatus::kOk && report.source_names.empty() &&
             FileSummary(path, LineEnd::kCrLf).empty();
    })) << path;
  }
  // A file whose length changes while it is read (a /proc file says 0 bytes, then holds more)
  // gives no header lines rather than part of them.
  const HeaderReport changing = ReadHeaderFile("/proc/self/status", LineEnd::kLf);
  EXPECT_EQ(changing.status, platform::ReadStatus::kChanged);
  EXPECT_TRUE(changing.version_text.empty() && changing.source_names.empty());
#endif
}

}  // namespace
}  // namespace vellomar::catalogue
