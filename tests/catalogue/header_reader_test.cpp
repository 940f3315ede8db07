#include "catalogue/header_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "support/file_reader.h"
#include "support/line_end.h"
#include "support/text.h"

namespace vellomar::catalogue {
namespace {

using support::LineEnd;
using testing::TempDir;
using testing::WriteFile;
using Names = std::vector<std::string>;

constexpr LineEnd kBothDialects[] = {LineEnd::kCrLf, LineEnd::kLf};

// The lines joined, each followed by the dialect's line end.
std::string Text(std::initializer_list<std::string_view> lines, LineEnd line_end) {
  std::string text;
  for (const auto line : lines) text.append(line).append(support::LineEndText(line_end));
  return text;
}

const char* Name(LineEnd line_end) { return line_end == LineEnd::kCrLf ? "CR LF" : "LF"; }

TEST(ReadHeaderTest, TakesTheValuesOfDatedLines) {
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const auto report =
        ReadHeader(Text({"# Title: sample", "# ------- Updated: 2024-01-02 -----------",
                         "# ------- Created: March 3 2024 10:00", "0.0.0.0 ads.example.com"},
                        le),
                   le);
    EXPECT_EQ(report.updated, "2024-01-02");
    EXPECT_EQ(report.created, "March 3 2024 10:00");  // no " ---": the whole rest
    EXPECT_EQ(report.version_text, Text({"# ------- Updated: 2024-01-02 -----------",
                                         "# ------- Created: March 3 2024 10:00"},
                                        le));
    EXPECT_EQ(report.source_names, Names{});

    // A keyword at the line's end, or followed by one character only, gives empty text.
    const auto bare = ReadHeader(Text({"# ------- Updated:", "# ------- Created: "}, le), le);
    EXPECT_EQ(bare.updated, "");
    EXPECT_EQ(bare.created, "");
    EXPECT_EQ(bare.version_text, Text({"# ------- Updated:", "# ------- Created: "}, le));

    // The value starts nine characters after the first keyword of the line, whatever is there.
    const auto odd = ReadHeader(
        Text({"Updated:1 x # ------- Updated: 2", "# ------- Created:_9 ---- ------- Updated",
              "# ------- Created: later ---"},
             le),
        le);
    EXPECT_EQ(odd.updated, " x #");
    EXPECT_EQ(odd.created, "later");  // the later line of a kind wins
    EXPECT_EQ(odd.version_text,
              Text({"Updated:1 x # ------- Updated: 2", "# ------- Created:_9 ---- ------- Updated",
                    "# ------- Created: later ---"},
                   le));

    // A line that holds both marks is an update line.
    const auto both = ReadHeader(Text({"# ------- Created: c ------- Updated: u ---"}, le), le);
    EXPECT_EQ(both.updated, "u");
    EXPECT_EQ(both.created, std::nullopt);
  }
}

TEST(ReadHeaderTest, IgnoresDashLinesWithoutAKeywordAndNeverTakesThemAsMarkers) {
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const auto report = ReadHeader(
        Text({"# ------- Modified: 2024 ---", "# ------- # [Start of H_hidden.txt entries]",
              "# [Start of H_shown.txt entries] # ------",
              "------- Updated: no hash before the dashes", "#------- Created: no space"},
             le),
        le);
    EXPECT_EQ(report.version_text, "");
    EXPECT_EQ(report.updated, std::nullopt);
    EXPECT_EQ(report.created, std::nullopt);
    EXPECT_EQ(report.source_names, Names{"H_shown.txt # ------"});
  }
}

TEST(ReadHeaderTest, StopsAfterTheFourthDatedLine) {
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const auto four =
        ReadHeader(Text({"# ------- Updated: u1 ---", "# ------- Created: c1 ---",
                         "# [Start of H_before.txt entries]", "# ------- Updated: u2 ---",
                         "# ------- Created: c2 ---", "# [Start of H_after.txt entries]",
                         "# ------- Updated: u3 ---"},
                        le),
                   le);
    EXPECT_EQ(four.updated, "u2");
    EXPECT_EQ(four.created, "c2");
    EXPECT_EQ(four.source_names, Names{"H_before.txt"});
    EXPECT_EQ(four.version_text, Text({"# ------- Updated: u1 ---", "# ------- Created: c1 ---",
                                       "# ------- Updated: u2 ---", "# ------- Created: c2 ---"},
                                      le));

    // With one line of each kind the reader goes to the end of the file.
    std::string long_file = Text({"# ------- Updated: u ---", "# ------- Created: c ---"}, le);
    for (int i = 0; i < 5000; ++i) long_file += Text({"0.0.0.0 host.example.com"}, le);
    long_file += Text({"# [Start of H_one.txt entries]"}, le);
    for (int i = 0; i < 5000; ++i) long_file += Text({"# comment", ""}, le);
    long_file += "# [Start of H_two.txt entries]";  // last line, no line end
    const auto two = ReadHeader(long_file, le);
    EXPECT_EQ(two.source_names, (Names{"H_one.txt", "H_two.txt"}));
    EXPECT_EQ(two.updated, "u");
    EXPECT_EQ(two.created, "c");
  }
}

TEST(ReadHeaderTest, ReadsStartMarkerNamesAsWritten) {
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const auto report =
        ReadHeader(Text({"# [Start of H_ads.txt entries]",
                         "# [Start of h_ADS.txt entries]",  // case is kept
                         "# [Start of H_ads.txt entries]",  // listed twice
                         "# [Start of H_a.txt,H_b.txt entries]", "# [Start of  entries]",
                         "# [Start of   entries]", "# [Start of ,, entries]",
                         "before # [Start of H_c entries] entries].txt after",
                         "# [Start of H_x.txt entries] # [Start of H_y.txt"},
                        le),
                   le);
    EXPECT_EQ(report.source_names,
              (Names{"H_ads.txt", "h_ADS.txt", "H_ads.txt", "H_a.txt", "H_b.txt", " ",
                     "H_c.txt after", "H_x.txt # [Start of H_y.txt"}));
    EXPECT_EQ(report.version_text, "");
  }
}

TEST(ReadHeaderTest, SplitsOnlyWhereTheDialectSplits) {
  // On CR LF a file of bare-LF lines is one line: it is an update line as a whole.
  const std::string lf_file =
      "# ------- Updated: u ---\n# ------- Created: c ---\n# [Start of H_a.txt entries]\n";
  const auto one = ReadHeader(lf_file, LineEnd::kCrLf);
  EXPECT_EQ(one.updated, "u");
  EXPECT_EQ(one.created, std::nullopt);
  EXPECT_EQ(one.source_names, Names{});
  EXPECT_EQ(one.version_text, lf_file + "\r\n");
  const auto split = ReadHeader(lf_file, LineEnd::kLf);
  EXPECT_EQ(split.created, "c");
  EXPECT_EQ(split.source_names, Names{"H_a.txt"});
  EXPECT_EQ(split.version_text, "# ------- Updated: u ---\n# ------- Created: c ---\n");

  // On LF the CR before an LF is line end, not value; a CR elsewhere is text in both.
  const std::string crlf_file = "# ------- Created: c\r\n# [Start of H_\rb.txt entries]\r\n";
  const auto lf = ReadHeader(crlf_file, LineEnd::kLf);
  EXPECT_EQ(lf.created, "c");
  EXPECT_EQ(lf.version_text, "# ------- Created: c\n");
  EXPECT_EQ(lf.source_names, Names{"H_\rb.txt"});
  const auto crlf = ReadHeader(crlf_file, LineEnd::kCrLf);
  EXPECT_EQ(crlf.created, "c");
  EXPECT_EQ(crlf.version_text, "# ------- Created: c\r\n");
  EXPECT_EQ(crlf.source_names, Names{"H_\rb.txt"});
  // A lone CR at the very end of an LF text stays in the last line.
  EXPECT_EQ(ReadHeader("# ------- Created: c\r", LineEnd::kLf).created, "c\r");
}

TEST(ReadHeaderTest, CopesWithEmptyNulAndHugeText) {
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const auto empty = ReadHeader("", le);
    EXPECT_EQ(empty.version_text, "");
    EXPECT_EQ(empty.updated, std::nullopt);
    EXPECT_EQ(empty.source_names, Names{});

    // NUL bytes are text like any other.
    const std::string nul_line("# ------- Updated: a\0b ---\0", 27);
    const auto nul = ReadHeader(Text({nul_line}, le), le);
    EXPECT_EQ(nul.updated, std::string("a\0b", 3));
    EXPECT_EQ(nul.version_text, Text({nul_line}, le));

    // A single line of several megabytes with its marker at the far end.
    std::string huge(5 * 1024 * 1024, 'x');
    huge += "# [Start of H_big.txt entries]";
    EXPECT_EQ(ReadHeader(huge, le).source_names, Names{"H_big.txt"});
    huge.insert(0, "# ------- ");
    EXPECT_EQ(ReadHeader(huge, le).source_names, Names{});
  }
}

// The plain rule, line by line, used to check the reader that skips lines without a '#'.
HeaderReport ReadEveryLine(std::string_view text, LineEnd le) {
  HeaderReport report;
  int dated = 0;
  support::ForEachLine(text, le, [&](std::string_view line) {
    const auto value = [&](std::string_view keyword) {
      const auto rest = line.substr(std::min(line.size(), line.find(keyword) + 9));
      return std::string(rest.substr(0, rest.find(" ---")));
    };
    if (support::Contains(line, "# -------")) {
      if (support::Contains(line, "------- Updated:")) {
        report.updated = value("Updated:");
      } else if (support::Contains(line, "------- Created:")) {
        report.created = value("Created:");
      } else {
        return true;
      }
      report.version_text.append(line).append(support::LineEndText(le));
      ++dated;
    } else if (const auto at = line.find("# [Start of "); at != std::string_view::npos) {
      const auto names = support::ReplaceAll(line.substr(at + 12), " entries]", "");
      std::size_t start = 0;
      for (std::size_t comma; (comma = names.find(',', start)) != std::string::npos;
           start = comma + 1) {
        if (comma > start) report.source_names.push_back(names.substr(start, comma - start));
      }
      if (start < names.size()) report.source_names.push_back(names.substr(start));
    }
    return dated < 4;
  });
  return report;
}

TEST(ReadHeaderTest, AgreesWithTheLineByLineRuleOnRandomText) {
  const std::string_view pieces[] = {"#",
                                     "##",
                                     "# -------",
                                     "------- Updated:",
                                     "------- Created:",
                                     "# [Start of ",
                                     " entries]",
                                     " ---",
                                     "\r",
                                     "\n",
                                     "\r\n",
                                     "\r\n",
                                     "a",
                                     "H_x.txt",
                                     ",",
                                     " "};
  std::mt19937 random(2024);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const auto count = random() % 40;
    for (unsigned i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    for (const auto le : kBothDialects) {
      const auto fast = ReadHeader(text, le);
      const auto plain = ReadEveryLine(text, le);
      ASSERT_EQ(fast.version_text, plain.version_text)
          << Name(le) << " " << ::testing::PrintToString(text);
      ASSERT_EQ(fast.updated, plain.updated) << ::testing::PrintToString(text);
      ASSERT_EQ(fast.created, plain.created) << ::testing::PrintToString(text);
      ASSERT_EQ(fast.source_names, plain.source_names) << ::testing::PrintToString(text);
    }
  }
  // Binary bytes of every value, with dated and marker lines in among them.
  std::string noise;
  for (int i = 0; i < 200000; ++i) {
    noise += static_cast<char>(random() % 256);
    if (random() % 5000 == 0) noise += pieces[2 + random() % 6];
  }
  for (const auto le : kBothDialects) {
    const auto fast = ReadHeader(noise, le);
    const auto plain = ReadEveryLine(noise, le);
    EXPECT_EQ(fast.version_text, plain.version_text);
    EXPECT_EQ(fast.source_names, plain.source_names);
  }
}

// What the window reads: the header of the whole file as the whole-file reader gives it.
HeaderReport ReadWhole(const std::string& path, LineEnd le) {
  return ReadHeader(support::ReadWholeFile(path), le);
}

void ExpectSameReport(const HeaderReport& got, const HeaderReport& want) {
  EXPECT_EQ(got.version_text, want.version_text);
  EXPECT_EQ(got.updated, want.updated);
  EXPECT_EQ(got.created, want.created);
  EXPECT_EQ(got.source_names, want.source_names);
}

TEST(ReadHeaderFileTest, GivesWhatTheWholeFileGivesWhereverTheLinesFall) {
  TempDir dir;
  const std::string path = dir.File("M_Hosts.txt");
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    const std::string_view eol = support::LineEndText(le);
    // Put the marker and dated lines, and their line breaks, across the boundaries of the
    // chunks the file is read in, whatever their size (a power of two).
    for (std::size_t pad = (1 << 17) - 48; pad <= (1 << 17) + 3; ++pad) {
      std::string text(pad, 'x');
      text += "\r\n\n";
      text += Text({"# [Start of H_a.txt entries]", "# ------- Updated: u ---", "0.0.0.0 a",
                    "# [Start of H_b.txt entries]", "# ------- Created: c"},
                   le);
      WriteFile(path, text);
      const auto got = ReadHeaderFile(path, le);
      ExpectSameReport(got, ReadWhole(path, le));
      ASSERT_EQ(got.source_names, (Names{"H_a.txt", "H_b.txt"})) << pad;
    }

    // A line several times longer than a chunk, with its marker at the end.
    std::string huge = Text({"# ------- Updated: u"}, le) + std::string(5 << 20, '#');
    huge += std::string("# [Start of H_big.txt entries]").append(eol);
    WriteFile(path, huge);
    EXPECT_EQ(ReadHeaderFile(path, le).source_names, Names{"H_big.txt"});
    ExpectSameReport(ReadHeaderFile(path, le), ReadWhole(path, le));

    // Four dated lines first: nothing after them counts, however long the file.
    std::string stop = Text({"# ------- Updated: 1", "# ------- Created: 2", "# ------- Updated: 3",
                             "# ------- Created: 4"},
                            le);
    for (int i = 0; i < 100000; ++i) stop += Text({"# [Start of H_late.txt entries]"}, le);
    WriteFile(path, stop);
    const auto stopped = ReadHeaderFile(path, le);
    EXPECT_EQ(stopped.source_names, Names{});
    EXPECT_EQ(stopped.updated, "3");
    EXPECT_EQ(stopped.created, "4");
  }
}

TEST(ReadHeaderFileTest, GivesNothingForWhatTheWholeFileReaderCannotRead) {
  TempDir dir;
  WriteFile(dir.File(".hidden.txt"), "# [Start of H_a.txt entries]");
  WriteFile(dir.File("empty.txt"), "");
  std::filesystem::create_directory(dir.File("folder"));
  for (const auto le : kBothDialects) {
    for (const auto& path : {dir.File("missing.txt"), dir.File(".hidden.txt"),
                             dir.File("empty.txt"), dir.File("folder"), std::string()}) {
      const auto report = ReadHeaderFile(path, le);
      EXPECT_EQ(report.version_text, "") << path;
      EXPECT_EQ(report.source_names, Names{}) << path;
      EXPECT_EQ(report.updated, std::nullopt) << path;
    }
  }
  // A file whose length does not hold while it is read: /proc files report none.
  EXPECT_EQ(ReadHeaderFile("/proc/self/status", LineEnd::kLf).version_text, "");
  if (::geteuid() != 0) {
    WriteFile(dir.File("locked.txt"), "# ------- Created: c\n");
    ::chmod(dir.File("locked.txt").c_str(), 0);
    EXPECT_EQ(ReadHeaderFile(dir.File("locked.txt"), LineEnd::kLf).created, std::nullopt);
  }
}

TEST(FileSummaryTest, CountsLinesPerDialectAndGivesTheLength) {
  TempDir dir;
  WriteFile(dir.File("six.txt"), "a\r\nb\r\n");
  EXPECT_EQ(FileSummary(dir.File("six.txt"), LineEnd::kCrLf), "3 Lines - len: 6");
  EXPECT_EQ(FileSummary(dir.File("six.txt"), LineEnd::kLf), "3 Lines - len: 6");
  WriteFile(dir.File("bare.txt"), "a\nb\n");
  EXPECT_EQ(FileSummary(dir.File("bare.txt"), LineEnd::kCrLf), "1 Lines - len: 4");
  EXPECT_EQ(FileSummary(dir.File("bare.txt"), LineEnd::kLf), "3 Lines - len: 4");
  WriteFile(dir.File("empty.txt"), "");
  for (const auto le : kBothDialects) {
    EXPECT_EQ(FileSummary(dir.File("empty.txt"), le), "0 Lines - len: 0");
  }
  WriteFile(dir.File("nul.txt"), std::string("\0\r\n\0", 4));
  EXPECT_EQ(FileSummary(dir.File("nul.txt"), LineEnd::kCrLf), "2 Lines - len: 4");
}

TEST(FileSummaryTest, GivesEmptyTextWhenNoFileExists) {
  TempDir dir;
  WriteFile(dir.File(".hidden.txt"), "a\r\n");
  std::filesystem::create_directory(dir.File("folder"));
  for (const auto le : kBothDialects) {
    EXPECT_EQ(FileSummary(dir.File("missing.txt"), le), "");
    EXPECT_EQ(FileSummary(dir.File(".hidden.txt"), le), "");
    EXPECT_EQ(FileSummary(dir.File("folder"), le), "");
    EXPECT_EQ(FileSummary("", le), "");
  }
}

TEST(FileSummaryTest, CountsLargeFilesWithoutLosingLines) {
  TempDir dir;
  for (const auto le : kBothDialects) {
    SCOPED_TRACE(Name(le));
    std::string text;
    for (int i = 0; i < 200000; ++i) {
      if (i > 0) text += support::LineEndText(le);
      text += "0.0.0.0 host" + std::to_string(i) + ".example.com";
    }
    WriteFile(dir.File("big.txt"), text);
    EXPECT_EQ(FileSummary(dir.File("big.txt"), le),
              "200000 Lines - len: " + std::to_string(text.size()));
  }
  // Short lines put CR LF pairs across every possible boundary of the reads underneath.
  std::string pairs;
  for (int i = 0; i < 1000000; ++i) pairs += "x\r\n";
  pairs += "\r";
  WriteFile(dir.File("pairs.txt"), pairs);
  for (const auto le : kBothDialects) {
    EXPECT_EQ(FileSummary(dir.File("pairs.txt"), le), "1000001 Lines - len: 3000001");
  }
  // A lone CR at one read's end and an LF at the next one's start are not a pair.
  std::string lone;
  for (int i = 0; i < 1000000; ++i) lone += "x\r\n\r";
  WriteFile(dir.File("lone.txt"), lone);
  EXPECT_EQ(FileSummary(dir.File("lone.txt"), LineEnd::kCrLf),
            std::to_string(support::CountLines(lone, LineEnd::kCrLf)) + " Lines - len: 4000000");
  std::string crs(3 * 1024 * 1024, '\r');
  WriteFile(dir.File("crs.txt"), crs + "\n");
  EXPECT_EQ(FileSummary(dir.File("crs.txt"), LineEnd::kCrLf),
            "2 Lines - len: " + std::to_string(crs.size() + 1));
}

TEST(FileSummaryTest, CountsNoLinesInAFileThatCannotBeRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  WriteFile(dir.File("locked.txt"), "a\r\nb\r\nc");
  ::chmod(dir.File("locked.txt").c_str(), 0);
  EXPECT_EQ(FileSummary(dir.File("locked.txt"), LineEnd::kCrLf), "0 Lines - len: 7");
}

}  // namespace
}  // namespace vellomar::catalogue
