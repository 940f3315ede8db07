#include "merge/merge_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "common/test_util.h"
#include "merge/address_mode.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::merge {
namespace {

using support::LineEnd;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Result = MergeWriter::CommitResult;

constexpr LineEnd kBothLineEnds[] = {LineEnd::kCrLf, LineEnd::kLf};
const std::string kDate = "07/12/2025 01:08:00";
const std::string kSeparator = "# " + std::string(57, '*') + "#";

struct Source {
  std::string name;
  std::string text;
};

// Writes `text` (written with LF) in the given dialect: LF becomes CR LF under kCrLf.
std::string In(LineEnd line_end, const std::string& text) {
  return line_end == LineEnd::kCrLf ? support::ReplaceAll(text, "\n", "\r\n") : text;
}

// Merges into dir/M_Hosts.txt and returns the bytes of the result.
std::string Merge(const TempDir& dir, LineEnd line_end, AddressMode mode, std::string_view header,
                  const std::vector<Source>& sources = {}) {
  MergeWriter writer(dir.File("M_Hosts.txt"), mode, line_end, kDate);
  writer.AddHeader(header);
  for (const Source& source : sources) writer.AddSource(source.name, source.text);
  EXPECT_EQ(writer.Commit(), Result::kReplaced);
  return ReadFile(dir.File("M_Hosts.txt"));
}

// The names in a folder, hidden ones included.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Merges a 3 MiB header while the process may write no more than `limit` bytes to a file,
// as on a full disk. Meant for a child process: the limit stays.
Result MergeWithFileSizeLimit(const std::string& target, rlim_t limit) {
  const rlimit size_limit{limit, limit};
  ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &size_limit);
  MergeWriter writer(target, AddressMode::kUse0000, LineEnd::kCrLf, kDate);
  writer.AddHeader(std::string(std::size_t{3} << 20, 'x'));
  return writer.Commit();
}

TEST(AddressModeTest, CaptionsAndRightPressToggle) {
  EXPECT_EQ(AddressModeCaption(AddressMode::kNoChange), " No Change");
  EXPECT_EQ(AddressModeCaption(AddressMode::kUse127), "Use 127.0.0.1");
  EXPECT_EQ(AddressModeCaption(AddressMode::kUse0000), "Use 0.0.0.0");
  EXPECT_EQ(ToggledAddressMode(AddressMode::kUse127), AddressMode::kUse0000);
  EXPECT_EQ(ToggledAddressMode(AddressMode::kUse0000), AddressMode::kUse127);
  EXPECT_EQ(ToggledAddressMode(AddressMode::kNoChange), AddressMode::kUse127);
}

TEST(EntryKindTest, DecidedByLowerCaseSubstring) {
  EXPECT_TRUE(IsHeaderEntry("H_Header.txt"));
  EXPECT_TRUE(IsHeaderEntry("H_MYHEADERS.TXT"));
  EXPECT_FALSE(IsHeaderEntry("H_Head_er.txt"));
  EXPECT_TRUE(IsMvpsEntry("H_MVPS.txt"));
  EXPECT_TRUE(IsMvpsEntry("H_Header_mVpS.txt") && IsHeaderEntry("H_Header_mVpS.txt"));
  EXPECT_FALSE(IsMvpsEntry("H_MV_PS.txt"));
}

TEST(ProcessLineTest, AppliesTheLineRulesAndAppends) {
  LocalhostState state;
  std::string out = ">";
  for (const char* line : {"127.0.0.1 localhost", "|", "::1 localhost", "|", "127.0.0.1 localhost",
                           "|", "  #127.0.0.1 a", "|", "\t127.0.0.1 a 127.0.0.1"}) {
    ProcessLine(line, AddressMode::kUse0000, state, out);
  }
  EXPECT_EQ(out,
            ">127.0.0.1 localhost|::1 localhost|# 127.0.0.1 localhost|  #127.0.0.1 a|"
            "\t0.0.0.0 a 0.0.0.0");
  EXPECT_TRUE(state.ipv4_passed && state.ipv6_passed);
  out.clear();
  ProcessLine("0.0.0.0 a 127.0.0.1", AddressMode::kUse127, state, out);
  EXPECT_EQ(out, "127.0.0.1 a 127.0.0.1");
}

TEST(MergeWriterTest, AgreesWithProcessLineOnEveryKindOfLine) {
  const std::vector<std::string> lines = {
      "",
      "# comment 127.0.0.1 0.0.0.0 localhost",
      "   # spaced",
      "\t# tabbed 127.0.0.1 0.0.0.0",
      "127.0.0.1 localhost",
      "::1 localhost",
      "127.0.0.1 localhost ::1",
      "fe80::1%lo0 localhost",
      "0.0.0.0 localhost.example",
      "127.0.0.1 ads.example #127.0.0.1",
      "0.0.0.0 0.0.0.0.0.0.0 127.0.0.10",
      "\r127.0.0.1 a\rb",
      "10.0.0.1 nas.lan",
      [] {
        std::string many;
        for (int i = 0; i < 20; ++i) many += "127.0.0.1 0.0.0.0 ";
        return many;
      }(),
      std::string(5000, 'x') + " 127.0.0.1 0.0.0.0",
  };
  for (LineEnd le : kBothLineEnds) {
    for (AddressMode mode : {AddressMode::kNoChange, AddressMode::kUse127, AddressMode::kUse0000}) {
      std::string text;
      std::string expected;
      LocalhostState state;
      for (const std::string& line : lines) {
        text += line + std::string(support::LineEndText(le));
        ProcessLine(line, mode, state, expected);
        expected += support::LineEndText(le);
      }
      TempDir dir;
      EXPECT_TRUE(Merge(dir, le, mode, text) == expected + std::string(support::LineEndText(le)))
          << "mode " << static_cast<int>(mode);
    }
  }
}

TEST(MergeWriterTest, HeaderAloneGetsNoMarkers) {
  for (LineEnd le : kBothLineEnds) {
    TempDir dir;
    EXPECT_EQ(Merge(dir, le, AddressMode::kUse0000, In(le, "# Head\n127.0.0.1 localhost\n")),
              In(le, "# Head\n127.0.0.1 localhost\n\n"));
    EXPECT_EQ(Merge(dir, le, AddressMode::kUse0000, "# Head"), In(le, "# Head\n"));
    EXPECT_EQ(Merge(dir, le, AddressMode::kUse0000, ""), In(le, "\n"));
  }
}

TEST(MergeWriterTest, LaysOutHeaderAndSourcesWithMarkersAndSeparators) {
  for (LineEnd le : kBothLineEnds) {
    TempDir dir;
    const std::string merged = Merge(dir, le, AddressMode::kUse0000, In(le, "# Head\n"),
                                     {{"H_A.txt", In(le, "0.0.0.0 a.example\n127.0.0.1 b.example")},
                                      {"H_B.txt", In(le, "# B\n127.0.0.1 c.example\n")},
                                      {"H_Missing.txt", ""}});
    EXPECT_EQ(merged, In(le,
                         "# Head\n\n"
                         "# [Start of H_A.txt entries]\n0.0.0.0 a.example\n0.0.0.0 b.example\n"
                         "# [End of H_A.txt entries]\n" +
                             kSeparator +
                             "\n\n"
                             "# [Start of H_B.txt entries]\n# B\n0.0.0.0 c.example\n\n"
                             "# [End of H_B.txt entries]\n" +
                             kSeparator +
                             "\n\n"
                             "# [Start of H_Missing.txt entries]\n\n"
                             "# [End of H_Missing.txt entries]\n" +
                             kSeparator + "\n\n"));
  }
}

TEST(MergeWriterTest, KeepsOnlyTheFirstActiveLocalhostLineOfEachFamilyAcrossFiles) {
  for (LineEnd le : kBothLineEnds) {
    TempDir dir;
    const std::string header = In(le,
                                  "# 127.0.0.1 localhost\n"
                                  "127.0.0.1 localhost\n"
                                  "::1 localhost\n");
    const std::string source = In(le,
                                  "127.0.0.1  localhost\n"
                                  "::1 ip6-localhost\n"
                                  "127.0.0.1 localhost ::1\n"
                                  "0.0.0.0 localhost.miner.example\n"
                                  "  # 127.0.0.1 localhost\n");
    const std::string merged = Merge(dir, le, AddressMode::kUse127, header, {{"H_S.txt", source}});
    EXPECT_EQ(merged, header + In(le,
                                  "\n# [Start of H_S.txt entries]\n"
                                  "# 127.0.0.1  localhost\n"
                                  "# ::1 ip6-localhost\n"
                                  "# # 127.0.0.1 localhost ::1\n"
                                  "0.0.0.0 localhost.miner.example\n"
                                  "  # 127.0.0.1 localhost\n\n"
                                  "# [End of H_S.txt entries]\n" +
                                      kSeparator + "\n\n"));

    // A commented line does not count; one line holding both families passes both.
    const std::string both = Merge(dir, le, AddressMode::kUse0000,
                                   In(le,
                                      "#127.0.0.1 localhost\n"
                                      "127.0.0.1 localhost ::1 localhost\n"
                                      "::1 localhost\n"
                                      "127.0.0.1 localhost"));
    EXPECT_EQ(both, In(le,
                       "#127.0.0.1 localhost\n"
                       "127.0.0.1 localhost ::1 localhost\n"
                       "# ::1 localhost\n"
                       "# 127.0.0.1 localhost\n"));
  }
}

TEST(MergeWriterTest, OnlySpacesMayIndentAComment) {
  for (LineEnd le : kBothLineEnds) {
    TempDir dir;
    const std::string merged = Merge(dir, le, AddressMode::kUse0000,
                                     In(le,
                                        "   # 127.0.0.1 spaced.example   \n"
                                        "\t# 127.0.0.1 tabbed.example\n"
                                        "\t#127.0.0.1 localhost\n"
                                        "127.0.0.1 localhost\n"
                                        "   \n"));
    EXPECT_EQ(merged, In(le,
                         "   # 127.0.0.1 spaced.example   \n"
                         "\t# 0.0.0.0 tabbed.example\n"
                         "\t#127.0.0.1 localhost\n"
                         "# 127.0.0.1 localhost\n"
                         "   \n\n"));
  }
}

TEST(MergeWriterTest, AddressModeRewritesEveryOtherLineByPlainReplacement) {
  const std::string lines =
      "127.0.0.1 a.example 127.0.0.1\n"
      "0.0.0.0 b.example\n"
      "0.0.0.0.0.0.0 c.example\n"
      "127.0.0.10 d.example\n"
      "127.0.0.1 localhost\n"
      "0.0.0.0 localhost\n";
  const struct {
    AddressMode mode;
    std::string expected;
  } cases[] = {
      {AddressMode::kNoChange, lines},
      {AddressMode::kUse127,
       "127.0.0.1 a.example 127.0.0.1\n"
       "127.0.0.1 b.example\n"
       "127.0.0.1.0.0.0 c.example\n"
       "127.0.0.10 d.example\n"
       "127.0.0.1 localhost\n"
       "0.0.0.0 localhost\n"},
      {AddressMode::kUse0000,
       "0.0.0.0 a.example 0.0.0.0\n"
       "0.0.0.0 b.example\n"
       "0.0.0.0.0.0.0 c.example\n"
       "0.0.0.00 d.example\n"
       "127.0.0.1 localhost\n"
       "0.0.0.0 localhost\n"},
  };
  for (LineEnd le : kBothLineEnds) {
    for (const auto& c : cases) {
      TempDir dir;
      EXPECT_EQ(Merge(dir, le, c.mode, "", {{"H_S.txt", In(le, lines)}}),
                In(le, "\n# [Start of H_S.txt entries]\n" + c.expected +
                           "\n# [End of H_S.txt entries]\n" + kSeparator + "\n\n"));
    }
  }
}

TEST(MergeWriterTest, FillsTheCreationDateInHeaderAndSourcesBeforeTheRules) {
  for (LineEnd le : kBothLineEnds) {
    TempDir dir;
    const std::string merged =
        Merge(dir, le, AddressMode::kUse0000, In(le, "# Created: #CREATEDDATE#\n"),
              {{"H_S.txt", In(le, "#CREATEDDATE# 127.0.0.1 x\n#CREATEDDATE##CREATEDDATE#")}});
    EXPECT_EQ(merged, In(le, "# Created: " + kDate + "\n\n# [Start of H_S.txt entries]\n" + kDate +
                                 " 0.0.0.0 x\n" + kDate + kDate + "\n# [End of H_S.txt entries]\n" +
                                 kSeparator + "\n\n"));
  }
}

TEST(MergeWriterTest, SplitsLinesOnlyAsTheLineEndSays) {
  TempDir dir;
  // Under CR LF a bare-LF file is a single line: a leading "#" keeps all of it unchanged, and
  // one "localhost" anywhere keeps every address in it.
  const std::string marked = "\r\n# [End of H_S.txt entries]\r\n" + kSeparator + "\r\n\r\n";
  EXPECT_EQ(Merge(dir, LineEnd::kCrLf, AddressMode::kUse0000, "",
                  {{"H_S.txt", " # list\n127.0.0.1 a\n"}}),
            "\r\n# [Start of H_S.txt entries]\r\n # list\n127.0.0.1 a\n" + marked);
  EXPECT_EQ(Merge(dir, LineEnd::kCrLf, AddressMode::kUse0000, "",
                  {{"H_S.txt", "127.0.0.1 a\n127.0.0.1 b\r\r\n"}}),
            "\r\n# [Start of H_S.txt entries]\r\n0.0.0.0 a\n0.0.0.0 b\r\r\n" + marked);
  EXPECT_EQ(Merge(dir, LineEnd::kCrLf, AddressMode::kUse0000, "",
                  {{"H_S.txt", "127.0.0.1 a\n127.0.0.1 localhost\n"}}),
            "\r\n# [Start of H_S.txt entries]\r\n127.0.0.1 a\n127.0.0.1 localhost\n" + marked);
  // Under LF a CR before the LF belongs to the line end; a CR elsewhere is text.
  EXPECT_EQ(Merge(dir, LineEnd::kLf, AddressMode::kUse0000, "# h\r\n\r\n",
                  {{"H_S.txt", "127.0.0.1 a\r\n\r127.0.0.1 b\r\r\n#c\r"}}),
            "# h\n\n\n# [Start of H_S.txt entries]\n0.0.0.0 a\n\r0.0.0.0 b\r\n#c\r\n"
            "# [End of H_S.txt entries]\n" +
                kSeparator + "\n\n");
}

TEST(MergeWriterTest, StreamsLargeSourcesExactly) {
  for (LineEnd le : kBothLineEnds) {
    const std::string end(support::LineEndText(le));
    // Many short lines: crosses the output buffer many times, mixing copied and changed lines.
    std::string text;
    std::string expected;
    for (int i = 0; i < 120000; ++i) {
      const std::string host = " host" + std::to_string(i) + ".example";
      text += (i % 3 == 0 ? "127.0.0.1" : "0.0.0.0") + host + end;
      expected += "0.0.0.0" + host + end;
      if (i % 1000 == 7) {
        text += "# 127.0.0.1 note" + end;
        expected += "# 127.0.0.1 note" + end;
      }
    }
    // One line longer than the buffer, with addresses and the date inside.
    const std::string chunk = "127.0.0.1 wide.example\t";
    const std::string long_line = "#CREATEDDATE#" + [&] {
      std::string s;
      while (s.size() < (std::size_t{3} << 20)) s += chunk;
      return s;
    }();
    text += long_line;
    expected += kDate + support::ReplaceAll(long_line.substr(13), "127.0.0.1", "0.0.0.0");

    TempDir dir;
    EXPECT_TRUE(Merge(dir, le, AddressMode::kUse0000, "", {{"H_Big.txt", text}}) ==
                end + "# [Start of H_Big.txt entries]" + end + expected + end +
                    "# [End of H_Big.txt entries]" + end + kSeparator + end + end);
  }
}

TEST(MergeWriterTest, KeepsTheRealListsByteForByte) {
  const std::string folder = VELLOMAR_BENCH_DATA;
  const std::string adservers = support::ReadWholeFile(folder + "/anudeep-adservers.txt");
  const std::string miners = support::ReadWholeFile(folder + "/anudeep-CoinMiner.txt");
  if (adservers.empty() || miners.empty()) GTEST_SKIP() << "no bench data in " << folder;
  // These lists use 0.0.0.0 only, so the 0.0.0.0 mode passes them unchanged, and the
  // 127.0.0.1 mode changes every block line but the one that names a localhost host.
  TempDir dir;
  const std::string kept = Merge(dir, LineEnd::kLf, AddressMode::kUse0000, adservers + miners);
  EXPECT_TRUE(kept == adservers + miners + "\n");
  const std::string turned = Merge(dir, LineEnd::kLf, AddressMode::kUse127, miners);
  const std::string all_turned = support::ReplaceAll(miners, "\n0.0.0.0 ", "\n127.0.0.1 ");
  EXPECT_TRUE(turned == support::ReplaceAll(all_turned, "\n127.0.0.1 localhost.miningspeed.com\n",
                                            "\n0.0.0.0 localhost.miningspeed.com\n") +
                            "\n");
}

TEST(MergeWriterTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.File("M_Hosts.txt");
  WriteFile(target, "old\r\n");
  {
    // Never committed.
    MergeWriter writer(target, AddressMode::kUse0000, LineEnd::kCrLf, kDate);
    writer.AddHeader("# new");
  }
  EXPECT_EQ(ReadFile(target), "old\r\n");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"M_Hosts.txt"});

  // The file system refuses to take more than a few bytes (as a full disk does).
  EXPECT_EXIT(::_exit(MergeWithFileSizeLimit(target, 4096) == Result::kWriteFailed ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile(target), "old\r\n");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"M_Hosts.txt"});

  // No folder to write in: nothing is written and nothing is created.
  MergeWriter orphan(dir.File("missing/M_Hosts.txt"), AddressMode::kUse0000, LineEnd::kLf, kDate);
  orphan.AddHeader("# new");
  EXPECT_EQ(orphan.Commit(), Result::kWriteFailed);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"M_Hosts.txt"});

  // A complete file that cannot take the place of a non-empty folder.
  const std::string folder = dir.File("Taken");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/inside.txt", "kept");
  MergeWriter blocked(folder, AddressMode::kUse0000, LineEnd::kLf, kDate);
  blocked.AddHeader("# new");
  EXPECT_EQ(blocked.Commit(), Result::kReplaceFailed);
  EXPECT_EQ(ReadFile(folder + "/inside.txt"), "kept");
  EXPECT_EQ(Listing(dir.path()).size(), 2u);

  // A second Commit finds nothing to do and leaves the committed file alone.
  MergeWriter writer(target, AddressMode::kUse0000, LineEnd::kLf, kDate);
  writer.AddHeader("# new");
  EXPECT_EQ(writer.Commit(), Result::kReplaced);
  writer.AddSource("H_Late.txt", "0.0.0.0 late");
  EXPECT_EQ(writer.Commit(), Result::kWriteFailed);
  EXPECT_EQ(ReadFile(target), "# new\n");
}

}  // namespace
}  // namespace vellomar::merge
