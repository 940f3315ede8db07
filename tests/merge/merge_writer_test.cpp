#include "merge/merge_writer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <regex>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_util.h"
#include "export/allow_list.h"
#include "merge/address_mode.h"
#include "merge/name_set.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::merge {
namespace {

using testing::ReadFile;
using testing::TempDir;
using Result = MergeWriter::CommitResult;
using Sources = std::vector<std::pair<std::string, std::string>>;  // name, text
using enum AddressMode;
using enum support::LineEnd;
using enum platform::OsFamily;

constexpr support::LineEnd kBothLineEnds[] = {kCrLf, kLf};
const std::string kDate = "07/12/2025 01:08:00";
const std::string kHost = "box7";  // every merge here has it; files without the placeholder keep
                                   // their bytes

// `text` (written with LF) in the given dialect.
std::string In(support::LineEnd le, const std::string& text) {
  return le == kCrLf ? support::ReplaceAll(text, "\n", "\r\n") : text;
}

// A source as the writer lays it out: markers, processed `body`, separator, empty line.
std::string Block(const std::string& name, const std::string& body, support::LineEnd le = kLf) {
  const std::string end(support::LineEndText(le));
  return "# [Start of " + name + " entries]" + end + body + end + "# [End of " + name +
         " entries]" + end + "# " + std::string(57, '*') + "#" + end + end;
}

// Sizes of the pieces a file is given in: 0 for the whole text at once; the others cut lines,
// CR LF pairs, addresses, "localhost" and the placeholders everywhere.
constexpr std::size_t kPieceSizes[] = {0, 1, 2, 7};

// Gives the writer a file in pieces of `piece` bytes (0: whole).
void Give(MergeWriter& writer, std::string_view text, std::size_t piece) {
  if (piece == 0) return writer.Add(text);
  for (std::size_t at = 0; at < text.size(); at += piece) writer.Add(text.substr(at, piece));
}

// Merges into dir/M_Hosts.txt and returns the bytes of the result; every byte written also
// reaches the watcher.
std::string Merge(const TempDir& dir, support::LineEnd le, AddressMode mode,
                  std::string_view header, const Sources& sources = {},
                  platform::OsFamily os = kPosix, std::size_t piece = 0,
                  const NameRules& rules = {}, NamesLeftOut* left_out = nullptr) {
  MergeWriter writer(dir.File("M_Hosts.txt"), mode, le, kDate, kHost, os);
  writer.SetNameRules(rules);
  std::string watched;
  writer.WatchOutput([&watched](std::string_view bytes) { watched += bytes; });
  writer.BeginHeader(header.size());
  Give(writer, header, piece);
  writer.EndFile();
  for (const auto& [name, text] : sources) {
    writer.BeginSource(name, text.size());
    Give(writer, text, piece);
    writer.EndFile();
  }
  if (left_out != nullptr) *left_out = writer.LeftOut();
  EXPECT_EQ(writer.Commit(), Result::kReplaced);
  std::string merged = ReadFile(dir.File("M_Hosts.txt"));
  EXPECT_TRUE(watched == merged);
  return merged;
}

// Merges in both dialects and expects `expected`; all texts are written with LF.
void ExpectMerge(AddressMode mode, const std::string& header, const Sources& sources,
                 const std::string& expected, platform::OsFamily os = kPosix) {
  for (support::LineEnd le : kBothLineEnds) {
    Sources converted;
    for (const auto& [name, text] : sources) converted.emplace_back(name, In(le, text));
    for (const std::size_t piece : kPieceSizes) {
      TempDir dir;
      EXPECT_EQ(Merge(dir, le, mode, In(le, header), converted, os, piece), In(le, expected))
          << piece;
    }
  }
}

// The line rules as plainly as they can be said, one line at a time: the writer's block scanner
// must agree with them on every kind of line. `text` is in the dialect `le`: under LF a CR right
// before the LF belongs to the line end; under CR LF a bare LF is text.
std::string ModelOfTheRules(const std::string& text, AddressMode mode, support::LineEnd le,
                            platform::OsFamily os) {
  const std::string from = mode == kUse127 ? "0.0.0.0" : mode == kUse0000 ? "127.0.0.1" : "";
  const std::string to = mode == kUse127 ? "127.0.0.1" : "0.0.0.0";
  bool ipv4 = false;
  bool ipv6 = false;
  std::string out;
  const std::string end(support::LineEndText(le));
  for (std::size_t start = 0;;) {
    const std::size_t lf = text.find(end, start);
    std::string line = text.substr(start, lf == std::string::npos ? lf : lf - start);
    if (le == kLf && lf != std::string::npos && line.ends_with('\r')) line.pop_back();
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line[first] == '#') {
      // a comment stays as it is
    } else if (line.find("localhost") != std::string::npos) {
      std::string prefix;
      if (line.find("127.0.0.1") != std::string::npos)
        prefix += std::exchange(ipv4, true) ? "# " : "";
      if (line.find("::1") != std::string::npos) prefix += std::exchange(ipv6, true) ? "# " : "";
      line = prefix + line;
    } else if (!from.empty()) {
      line = support::ReplaceAll(line, from, to);
    }
    // Windows: an address line of more than nine names as lines of nine, the rest on the first.
    std::vector<std::string> fields;  // each with the blanks before it, up to a "#"
    std::size_t at = 0;
    for (std::size_t f; (f = line.find_first_not_of(" \t", at)) < line.find('#');)
      at += fields.emplace_back(line.substr(at, line.find_first_of(" \t#", f) - at)).size();
    if (os == kWindows && fields.size() > 10 && line.find("localhost") == std::string::npos &&
        std::regex_match(
            fields[0], std::regex(R"([ \t]*((\d{1,3}\.){3}\d{1,3}|[\da-fA-F.]*:[\da-fA-F.:]*))")) &&
        std::none_of(line.begin(), line.end(),
                     [](unsigned char c) { return c < 32 && c != '\t'; })) {
      std::string split = fields[0];
      for (std::size_t i = 1; i < fields.size(); ++i)
        split += (i > 9 && i % 9 == 1 ? end + fields[0] : "") + fields[i] +
                 (i == 9 ? line.substr(at) : "");
      line = split;
    }
    out += line;
    if (lf == std::string::npos) return out;
    out += end;
    start = lf + end.size();
  }
}

// Lines drawn at random from the fragments the rules react to (the placeholders have tests of
// their own): far more combinations than the examples, and long enough that every kind of event
// falls on every place of the scanner's blocks.
std::string RandomLines() {
  static constexpr std::string_view kFragments[] = {
      "127.0.0.1 ", "0.0.0.0 ", "127.0.0.1", "0.0.0.0", "a.example", "b",         " ",   "\t",
      "\n",         "\n",       "\r\n",      "\r",      "#",         "localhost", "::1", "0."};
  std::mt19937 random(2026);
  std::string text;
  while (text.size() < 30000) text += kFragments[random() % std::size(kFragments)];
  return text;
}

TEST(MergeWriterTest, AgreesWithAPlainModelOfTheRulesOnEveryKindOfLine) {
  const std::string lines =
      "\n# c 127.0.0.1 0.0.0.0 localhost\n   # spaced 127.0.0.1\n\t# tabbed 127.0.0.1 0.0.0.0\n"
      "127.0.0.1 localhost\n::1 localhost\n127.0.0.1 localhost ::1\nfe80::1%lo0 localhost\n"
      "0.0.0.0 localhost.example\n127.0.0.1 ads.example #127.0.0.1\n10.0.0.1 nas.lan\n   \n"
      "0.0.0.0 0.0.0.0.0.0.0 127.0.0.10\n\r127.0.0.1 a\rb\n\t127.0.0.1 a 127.0.0.1\n"
      "  0.0.0.0\ta b c d e f g h i\tj #k l m\n::1 a b c d e f g h i j\n0.0.0.0 a b c d e f g h i\n"
      "1127.0.0.1 a b c d e f g h i j k l m n o p q r s t u v w \n0.0.0.0.0 a b c d e f g h i j\n"
      "0.0.0.0 a b c d e f g h i j\rk\n" +
      std::string(5000, 'x') + " 127.0.0.1 0.0.0.0\n" +
      support::ReplaceAll(std::string(20, '.'), ".", "127.0.0.1 0.0.0.0 ");  // over 16 addresses
  // Both line ends at once: under CR LF the bare-LF lines are one line, and one "#" or
  // "localhost" rules all of it; under LF a CR elsewhere than before the LF is text.
  const std::string mixed =
      " # list\n127.0.0.1 a\r\n127.0.0.1 a\n127.0.0.1 localhost\r\n127.0.0.1 a\n127.0.0.1 b\r\r\n"
      "\r127.0.0.1 b\r\r\n127.0.0.1 a b c d e f g h i j\r\n#c\r";
  for (support::LineEnd le : kBothLineEnds) {
    for (AddressMode mode : {kNoChange, kUse127, kUse0000}) {
      for (platform::OsFamily os : {kPosix, kWindows}) {
        for (const std::string& text : {In(le, lines), mixed, RandomLines()}) {
          for (const std::size_t piece : kPieceSizes) {
            TempDir dir;
            // Rules on names that leave nothing out take the slow path, to the same bytes.
            NameRules none;
            none.allowed = [](std::string_view) { return false; };
            for (const NameRules& rules : {NameRules{}, none}) {
              EXPECT_TRUE(Merge(dir, le, mode, text, {}, os, piece, rules) ==
                          ModelOfTheRules(text, mode, le, os) +
                              std::string(support::LineEndText(le)))
                  << static_cast<int>(mode) << static_cast<int>(os) << text.size() << " " << piece;
            }
          }
        }
      }
    }
  }
}

TEST(MergeWriterTest, LaysOutHeaderAndSourcesWithMarkersAndSeparators) {
  ExpectMerge(kUse0000, "# Head\n", {}, "# Head\n\n");  // a header alone gets no markers
  // Sources with and without a final line end, and one without text.
  ExpectMerge(kUse0000, "# Head\n",
              {{"H_A.txt", "0.0.0.0 a.example\n127.0.0.1 b.example"},
               {"H_B.txt", "# B\n127.0.0.1 c.example\n"},
               {"H_Missing.txt", ""}},
              "# Head\n\n" + Block("H_A.txt", "0.0.0.0 a.example\n0.0.0.0 b.example") +
                  Block("H_B.txt", "# B\n0.0.0.0 c.example\n") + Block("H_Missing.txt", ""));
  // The date goes in before the rules look at the line.
  ExpectMerge(kUse0000, "#CREATEDDATE#\n",
              {{"H_S.txt", "#CREATEDDATE# 127.0.0.1 x\n#CREATEDDATE##CREATEDDATE#"}},
              kDate + "\n\n" + Block("H_S.txt", kDate + " 0.0.0.0 x\n" + kDate + kDate));
  // So does the machine's name, in the header and in a source, beside the date; "#HOST" and
  // "#hostname#" are not the placeholder.
  ExpectMerge(kUse0000, "127.0.1.1\t#HOSTNAME#\n# #CREATEDDATE# on #HOSTNAME#\n#HOST\n",
              {{"H_S.txt", "127.0.0.1 #HOSTNAME##HOSTNAME# #hostname#\n"}},
              "127.0.1.1\tbox7\n# " + kDate + " on box7\n#HOST\n\n" +
                  Block("H_S.txt", "0.0.0.0 box7box7 #hostname#\n"));
}

// Windows reads nine names of a line: an address line of more becomes lines of nine with the
// address as written and the comment on the first; no other line changes, nor any under POSIX.
// Only the first active localhost line per family stays, the header's counting; only spaces may
// indent a comment.
TEST(MergeWriterTest, WritesAtMostNineNamesALineForWindows) {
  const auto names = [](int first, int last, const std::string& blank = " ") {
    std::string text;
    for (int i = first; i <= last; ++i) text += blank + "n" + std::to_string(i);
    return text;
  };
  const std::string header = "0.0.0.0 localhost.x" + names(1, 10) +
                             "\n   # 127.0.0.1 localhost\n\t#127.0.0.1 localhost\n::1 localhost\n";
  const std::string localhost = "127.0.0.1  localhost" + names(1, 10) + "\n::1 localhost6";
  const std::tuple<platform::OsFamily, AddressMode, std::string, std::string> rows[] = {
      {kWindows, kUse0000, "127.0.0.1" + names(1, 9) + " #c\n127.0.0.1" + names(1, 10) + " #c\n",
       "0.0.0.0" + names(1, 9) + " #c\n0.0.0.0" + names(1, 9) + " #c\n0.0.0.0 n10\n"},
      {kPosix, kUse0000, "127.0.0.1" + names(1, 10) + " #c", "0.0.0.0" + names(1, 10) + " #c"},
      {kWindows, kUse127, "\t0.0.0.0" + names(1, 23, "\t ") + "\t# c #",
       "\t127.0.0.1" + names(1, 9, "\t ") + "\t# c #\n\t127.0.0.1" + names(10, 18, "\t ") +
           "\n\t127.0.0.1" + names(19, 23, "\t ")},
      {kWindows, kNoChange, "::1" + names(1, 10) + "#c\n0.0.0.0 #HOSTNAME#" + names(1, 9),
       "::1" + names(1, 9) + "#c\n::1 n10\n0.0.0.0 box7" + names(1, 8) + "\n0.0.0.0 n9"},
      // Localhost lines stay, kept (in the header) or commented out.
      {kWindows, kUse127, localhost, "# " + support::ReplaceAll(localhost, "\n", "\n# ")},
  };
  for (const auto& [os, mode, in, out] : rows)
    ExpectMerge(mode, header, {{"H_S.txt", in}}, header + "\n" + Block("H_S.txt", out), os);
}

// Allowed names and duplicates leave block lines (0.0.0.0, 127.0.0.1, :: and ::1 as written out),
// each with the blanks before it; a line left with no names goes with its line end. Packing
// writes a source's block lines again nine names a line. Comments, localhost lines and lines of
// other addresses stay as they are; the counts say what went.
TEST(MergeWriterTest, LeavesOutAllowedAndDuplicateNamesAndPacksBlockLines) {
  const auto list = std::make_shared<exports::AllowList>(
      exports::AllowList::Parse("Ads.example\n*.track.example # all\n"));
  const auto rules = [list](bool allowing, bool dedupe, bool pack) {
    return NameRules{allowing ? [list](std::string_view name) { return list->Allows(name); }
                              : std::function<bool(std::string_view)>(),
                     dedupe, pack};
  };
  const NameRules allow = rules(true, false, false), dedupe = rules(false, true, false),
                  pack = rules(false, false, true), all = rules(true, true, true);
  const std::string nine = " n1 n2 n3 n4 n5 n6 n7 n8 n9";
  struct Row {
    const NameRules& rules;
    AddressMode mode;
    std::string header, header_out, source, out;
    std::uint64_t allowed, duplicates;
    platform::OsFamily os = kPosix;
  };
  const Row rows[] = {
      // Exact (any case), the wildcard's name and those below it; some names of a line, all of
      // one (its comment goes with it), the last line of a file; other lines untouched.
      {allow, kUse0000, "# h\n0.0.0.0 ADS.example keep\n", "# h\n0.0.0.0 keep\n",
       "127.0.0.1 ads.example keep.example\n0.0.0.0 x.track.example\tk2 a.b.TRACK.example #c\n"
       "0.0.0.0 track.example ads.example #gone\n# 0.0.0.0 ads.example\n10.0.0.1 ads.example\n"
       "127.0.0.1 localhost ads.example\n0.0.0.0 notads.example track.example.com\n::1 ads.example",
       "0.0.0.0 keep.example\n0.0.0.0\tk2 #c\n# 0.0.0.0 ads.example\n10.0.0.1 ads.example\n"
       "127.0.0.1 localhost ads.example\n0.0.0.0 notads.example track.example.com",
       7, 0},
      // Duplicates: of the header's, within a line, across sources (after the rewrite), any
      // case; IPv4 and IPv6 apart; comments block nothing.
      {dedupe, kUse0000, "0.0.0.0 dup.example\n127.0.0.1 localhost\n",
       "0.0.0.0 dup.example\n127.0.0.1 localhost\n",
       "0.0.0.0 a a b DUP.example\n::1 a\n:: A\n# 0.0.0.0 c\n0.0.0.0 c\n127.0.0.1 b c d\n",
       "0.0.0.0 a b\n::1 a\n# 0.0.0.0 c\n0.0.0.0 c\n0.0.0.0 d\n", 0, 5},
      // Packing: runs of one address, broken by any other line; a comment stays on its line;
      // a line of more than nine names; the last line without a line end.
      {pack, kUse0000, "0.0.0.0 h1\n0.0.0.0 h2\n", "0.0.0.0 h1\n0.0.0.0 h2\n",
       "# top\n0.0.0.0 a\n127.0.0.1 b c\n  0.0.0.0\td\n\n0.0.0.0 e #c\n0.0.0.0 f\n10.0.0.1 g\n"
       "0.0.0.0 f" +
           nine + " n10\n:: v6\n:: v7",
       "# top\n0.0.0.0 a b c d\n\n0.0.0.0 e #c\n0.0.0.0 f\n10.0.0.1 g\n0.0.0.0 f n1 n2 n3 n4 n5 "
       "n6 n7 n8\n0.0.0.0 n9 n10\n:: v6 v7",
       0, 0},
      {pack, kNoChange, "", "", "127.0.0.1 a\n0.0.0.0" + nine + " n10 n11\n0.0.0.0 z\n",
       "127.0.0.1 a\n0.0.0.0" + nine + "\n0.0.0.0 n10 n11 z\n", 0, 0, kWindows},
      // All three: what is left out is never packed, nor counted twice.
      {all, kUse127, "0.0.0.0 h\n", "127.0.0.1 h\n",
       "0.0.0.0 a ads.example h\n0.0.0.0 a b\n0.0.0.0 ads.example\n", "127.0.0.1 a b\n", 2, 2},
  };
  for (const Row& row : rows) {
    for (support::LineEnd le : kBothLineEnds) {
      for (const std::size_t piece : kPieceSizes) {
        TempDir dir;
        NamesLeftOut left_out;
        const std::string header = row.header.empty() ? "" : In(le, row.header);
        EXPECT_EQ(Merge(dir, le, row.mode, header, {{"H_S.txt", In(le, row.source)}}, row.os, piece,
                        row.rules, &left_out),
                  In(le, row.header_out + "\n" + Block("H_S.txt", row.out)))
            << row.source << " " << piece;
        EXPECT_EQ(left_out.allowed, row.allowed) << row.source;
        EXPECT_EQ(left_out.duplicates, row.duplicates) << row.source;
      }
    }
  }
}

// The set of blocked names across its blocks of 1 MiB and its table's growth, and taken back to
// a mark (a dropped file) in the middle of a block.
TEST(NameSetTest, FindsEveryNameAndForgetsThoseAfterAMark) {
  NameSet set;
  const auto name = [](int i) { return "host-" + std::to_string(i) + std::string(i % 40, 'x'); };
  for (int i = 0; i < 100001; ++i) EXPECT_TRUE(set.Insert(name(i)));
  const std::size_t mark = set.Mark();
  for (int i = 100001; i < 150000; ++i) set.Insert(name(i));
  set.TruncateTo(mark);
  EXPECT_EQ(set.Size(), 100001u);
  for (int i = 0; i < 150000; i += 7) EXPECT_EQ(set.Insert(name(i)), i > 100000) << i;
  for (int i : {0, 1}) EXPECT_TRUE(set.Insert(std::string(NameSet::kMaxName + 1, 'a'))) << i;
}

TEST(MergeWriterTest, StreamsLargeSourcesExactly) {
  // Many short lines cross the output buffer many times; then one line longer than the buffer.
  std::string text;
  std::string expected;
  for (int i = 0; i < 120000; ++i) {
    const std::string host = " host" + std::to_string(i) + ".example\n";
    text += (i % 3 == 0 ? "127.0.0.1" : "0.0.0.0") + host;
    expected += "0.0.0.0" + host;
  }
  std::string long_line;
  while (long_line.size() < (std::size_t{3} << 20)) long_line += "127.0.0.1 wide.example\t";
  text += "#CREATEDDATE#" + long_line;
  expected += kDate + support::ReplaceAll(long_line, "127.0.0.1", "0.0.0.0");
  for (support::LineEnd le : kBothLineEnds) {
    for (const std::size_t piece : {std::size_t{0}, std::size_t{4093}}) {
      TempDir dir;
      EXPECT_TRUE(Merge(dir, le, kUse0000, "", {{"H_Big.txt", In(le, text)}}, kPosix, piece) ==
                  In(le, "\n" + Block("H_Big.txt", expected)));
    }
  }
}

// A file dropped part way (one that could not be read to its end) leaves no trace: neither its
// bytes, those already written out included, nor its localhost lines, nor a size refusal.
TEST(MergeWriterTest, ADroppedFileLeavesNoTrace) {
  std::string big;
  while (big.size() < (std::size_t{3} << 20)) big += "127.0.0.1 dropped.example\n";
  const std::string kept = "127.0.0.1 localhost\n127.0.0.1 b.example\n0.0.0.0 dropped.example";
  NameRules dedupe;  // nor the names it blocked, nor the duplicates it counted
  dedupe.dedupe = dedupe.pack = true;
  for (support::LineEnd le : kBothLineEnds) {
    for (const NameRules& rules : {NameRules{}, dedupe}) {
      TempDir dir;
      const std::string expected =
          Merge(dir, le, kUse0000, "# head", {{"H_b.txt", In(le, kept)}}, kPosix, 0, rules);
      MergeWriter writer(dir.File("M_Hosts.txt"), kUse0000, le, kDate, kHost, kPosix);
      writer.SetNameRules(rules);
      std::string watched;
      std::string at_begin;
      writer.WatchOutput([&watched](std::string_view bytes) { watched += bytes; });
      writer.AddHeader("# head");
      for (const std::uint64_t size : {std::uint64_t{big.size()}, platform::kMaxFileBytes}) {
        writer.BeginSource("H_a.txt", size);
        at_begin = watched;
        Give(writer, In(le, "127.0.0.1 localhost\n" + big), 65537);
        writer.DropFile();
        watched = at_begin;
      }
      writer.AddSource("H_b.txt", In(le, kept));
      EXPECT_EQ(writer.LeftOut().duplicates, 0u);
      EXPECT_EQ(writer.Commit(), Result::kReplaced);
      EXPECT_TRUE(ReadFile(dir.File("M_Hosts.txt")) == expected);
      EXPECT_TRUE(watched == expected);
    }
  }
}

TEST(MergeWriterTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.File("M_Hosts.txt");
  const auto commit = [](const std::string& path, std::size_t size) {
    MergeWriter writer(path, kUse0000, kLf, kDate);
    writer.AddHeader(std::string(size, 'x'));
    return writer.Commit();
  };
  const auto entries = [&] { return testing::Entries(dir.path()); };
  const auto untouched = [&] { return ReadFile(target) == "old\r\n" && entries() == 1; };
  testing::WriteFile(target, "old\r\n");
  MergeWriter(target, kUse0000, kCrLf, kDate).AddHeader("# new");  // destroyed, never committed
  EXPECT_TRUE(untouched());
  // In a child process, the file system takes no more than a few bytes, as when it is full
  // (where the system can limit a process so).
#ifndef _WIN32
  EXPECT_EXIT(
      {
        testing::LimitFileSize(4096);
        std::_Exit(commit(target, std::size_t{3} << 20) == Result::kWriteFailed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(untouched());
#endif
  EXPECT_EQ(commit(dir.File("missing/M_Hosts.txt"), 5), Result::kWriteFailed);  // no folder
  EXPECT_TRUE(untouched());
  std::filesystem::create_directory(dir.File("Taken"));

#ifndef _WIN32  // no mmap
  // A merged file past the size cap is refused before any of it is written: a source mapped
  // from a sparse file (no memory behind it) as large as the cap does not fit behind a header.
  const std::uint64_t cap = platform::kMaxFileBytes;
  testing::MakeSparseFile(dir.File("Taken/cap"), cap);
  const int fd = ::open(dir.File("Taken/cap").c_str(), O_RDONLY);
  void* mapped = ::mmap(nullptr, cap, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  ASSERT_NE(mapped, MAP_FAILED);
  {
    MergeWriter writer(target, kNoChange, kLf, kDate);
    writer.AddHeader("# header");
    writer.AddSource("H_a.txt", "0.0.0.0 a");
    writer.AddSource("H_b.txt", std::string_view(static_cast<const char*>(mapped), cap));
    EXPECT_EQ(writer.Commit(), Result::kTooLarge);
    EXPECT_EQ(entries(), 2);  // the temporary file is gone with the refusal
  }
  ::munmap(mapped, cap);
#endif
  EXPECT_EQ(ReadFile(target), "old\r\n");
  EXPECT_EQ(entries(), 2);
}

// Temporary files of merges that were killed (their writer's process is gone) are removed by
// the next merge; nothing else is: not one of a writer still running, nor a name of another
// form, nor (as root) a file of another user.
TEST(MergeWriterTest, RemovesTheTemporaryFilesOfKilledMerges) {
#ifdef _WIN32
  GTEST_SKIP()
      << "forks a writer that ends; windows_platform_test removes the files of an ended writer";
#else
  TempDir dir;
  const std::string target = dir.File("M_Hosts.txt");
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string stem = dir.File(".M_Hosts.txt.new-");
  const std::string stale = stem + std::to_string(dead) + "-7";
  const std::string others = stem + std::to_string(dead) + "-8";
  const std::vector<std::string> kept = {stem + "123456789", stem + "1-7",  // no pid; pid 1 runs
                                         stem + std::to_string(dead) + "-7x", others};
  testing::WriteFile(stale, "partial");
  for (const auto& path : kept) testing::WriteFile(path, "partial");
  if (::geteuid() != 0 || ::chown(others.c_str(), testing::kNobody, testing::kNobody) != 0) {
    ::unlink(others.c_str());
  }
  MergeWriter writer(target, kNoChange, kLf, kDate);
  writer.AddHeader("# header");
  EXPECT_EQ(writer.Commit(), Result::kReplaced);
  EXPECT_FALSE(testing::Exists(stale));
  for (const auto& path : kept)
    EXPECT_EQ(testing::Exists(path), path != others || ::geteuid() == 0) << path;
#endif
}

}  // namespace
}  // namespace vellomar::merge
