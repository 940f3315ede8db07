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
#include <utility>
#include <vector>

#include "common/test_util.h"
#include "merge/address_mode.h"
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

// Merges into dir/M_Hosts.txt and returns the bytes of the result.
std::string Merge(const TempDir& dir, support::LineEnd le, AddressMode mode,
                  std::string_view header, const Sources& sources = {}) {
  MergeWriter writer(dir.File("M_Hosts.txt"), mode, le, kDate, kHost);
  writer.AddHeader(header);
  for (const auto& [name, text] : sources) writer.AddSource(name, text);
  EXPECT_EQ(writer.Commit(), Result::kReplaced);
  return ReadFile(dir.File("M_Hosts.txt"));
}

// Merges in both dialects and expects `expected`; all texts are written with LF.
void ExpectMerge(AddressMode mode, const std::string& header, const Sources& sources,
                 const std::string& expected) {
  for (support::LineEnd le : kBothLineEnds) {
    Sources converted;
    for (const auto& [name, text] : sources) converted.emplace_back(name, In(le, text));
    TempDir dir;
    EXPECT_EQ(Merge(dir, le, mode, In(le, header), converted), In(le, expected));
  }
}

// The line rules as plainly as they can be said, one line at a time: the writer's block scanner
// must agree with them on every kind of line.
std::string ModelOfTheRules(const std::string& text, AddressMode mode, support::LineEnd le) {
  const std::string from = mode == kUse127 ? "0.0.0.0" : mode == kUse0000 ? "127.0.0.1" : "";
  const std::string to = mode == kUse127 ? "127.0.0.1" : "0.0.0.0";
  bool ipv4 = false;
  bool ipv6 = false;
  std::string out;
  std::size_t start = 0;
  while (true) {
    const std::size_t lf = text.find('\n', start);
    std::string line = text.substr(start, lf == std::string::npos ? lf : lf - start);
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
    out += line;
    if (lf == std::string::npos) return out;
    out += support::LineEndText(le);
    start = lf + 1;
  }
}

TEST(MergeWriterTest, AgreesWithAPlainModelOfTheRulesOnEveryKindOfLine) {
  const std::string lines =
      "\n# c 127.0.0.1 0.0.0.0 localhost\n   # spaced 127.0.0.1\n\t# tabbed 127.0.0.1 0.0.0.0\n"
      "127.0.0.1 localhost\n::1 localhost\n127.0.0.1 localhost ::1\nfe80::1%lo0 localhost\n"
      "0.0.0.0 localhost.example\n127.0.0.1 ads.example #127.0.0.1\n10.0.0.1 nas.lan\n   \n"
      "0.0.0.0 0.0.0.0.0.0.0 127.0.0.10\n\r127.0.0.1 a\rb\n\t127.0.0.1 a 127.0.0.1\n" +
      std::string(5000, 'x') + " 127.0.0.1 0.0.0.0\n" +
      support::ReplaceAll(std::string(20, '.'), ".", "127.0.0.1 0.0.0.0 ");  // over 16 addresses
  for (support::LineEnd le : kBothLineEnds) {
    for (AddressMode mode : {kNoChange, kUse127, kUse0000}) {
      TempDir dir;
      EXPECT_TRUE(Merge(dir, le, mode, In(le, lines)) ==
                  ModelOfTheRules(lines, mode, le) + std::string(support::LineEndText(le)))
          << static_cast<int>(mode);
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

// Only the first active localhost line per family stays, the header's counting; only spaces
// may indent a comment.
TEST(MergeWriterTest, AppliesTheLocalhostRuleAcrossHeaderAndSources) {
  const std::string header = "   # 127.0.0.1 localhost\n\t#127.0.0.1 localhost\n::1 localhost\n";
  const std::string source = "127.0.0.1  localhost\n::1 localhost6\n127.0.0.1 localhost ::1";
  const std::string out = "# 127.0.0.1  localhost\n# ::1 localhost6\n# # 127.0.0.1 localhost ::1";
  ExpectMerge(kUse127, header, {{"H_S.txt", source}}, header + "\n" + Block("H_S.txt", out));
}

TEST(MergeWriterTest, SplitsLinesOnlyAsTheLineEndSays) {
  const auto check = [](support::LineEnd le, const std::string& text, const std::string& body) {
    TempDir dir;
    EXPECT_EQ(Merge(dir, le, kUse0000, "", {{"H_S.txt", text}}),
              In(le, "\n") + Block("H_S.txt", body, le));
  };
  // Under CR LF a bare-LF file is one line: one "#" or "localhost" rules all of it.
  check(kCrLf, " # list\n127.0.0.1 a\n", " # list\n127.0.0.1 a\n");
  check(kCrLf, "127.0.0.1 a\n127.0.0.1 b\r\r\n", "0.0.0.0 a\n0.0.0.0 b\r\r\n");
  check(kCrLf, "127.0.0.1 a\n127.0.0.1 localhost", "127.0.0.1 a\n127.0.0.1 localhost");
  // Under LF a CR before the LF belongs to the line end; a CR elsewhere is text.
  check(kLf, "# plain\r\n127.0.0.1 a\r\n\r127.0.0.1 b\r\r\n#c\r",
        "# plain\n0.0.0.0 a\n\r0.0.0.0 b\r\n#c\r");
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
    TempDir dir;
    EXPECT_TRUE(Merge(dir, le, kUse0000, "", {{"H_Big.txt", In(le, text)}}) ==
                In(le, "\n" + Block("H_Big.txt", expected)));
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
