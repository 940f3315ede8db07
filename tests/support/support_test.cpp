#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_util.h"
#include "support/file_reader.h"
#include "support/line_end.h"
#include "support/log.h"
#include "support/shell.h"

namespace vellomar::support {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(WriteLogTest, AppendsEachMessageWithTheGivenLineEnd) {
  TempDir dir;
  const LogTarget crlf{dir.File("crlf_Log.txt"), LineEnd::kCrLf, {}};
  EXPECT_TRUE(WriteLog(crlf, "a") && WriteLog(crlf, ""));
  EXPECT_EQ(ReadFile(crlf.path), "a\r\n\r\n");
  const LogTarget lf = ProgramLog(dir.path(), "vellomar", LineEnd::kLf);
  EXPECT_EQ(lf.path, dir.File("vellomar_Log.txt"));
  WriteFile(lf.path, "old\n");
  EXPECT_TRUE(WriteLog(lf, "Could not Kill /x/hosts"));
  EXPECT_EQ(ReadFile(lf.path), "old\nCould not Kill /x/hosts\n");
}

// A link (dangling or not) at the log is not written through, and a pipe there does not hold
// the program up: the entry is lost and the call says so.
TEST(WriteLogTest, NeverWritesThroughALinkNorWaitsForAPipe) {
#ifdef _WIN32
  GTEST_SKIP() << "needs symbolic links and FIFOs";
#else
  TempDir dir;
  WriteFile(dir.File("target"), "keep");
  ::symlink(dir.File("target").c_str(), dir.File("a_Log.txt").c_str());
  ::symlink(dir.File("created").c_str(), dir.File("b_Log.txt").c_str());
  ::mkfifo(dir.File("c_Log.txt").c_str(), 0666);
  for (const char* name : {"a_Log.txt", "b_Log.txt", "c_Log.txt"}) {
    SCOPED_TRACE(name);
    const LogTarget log{dir.File(name), LineEnd::kLf, {}};
    EXPECT_TRUE(testing::RunInChild([&] { return !WriteLog(log, "entry"); }, false, 5));
  }
  EXPECT_EQ(ReadFile(dir.File("target")), "keep");
  EXPECT_FALSE(testing::Exists(dir.File("created")));
#endif
}

// Exact bytes or nothing, with the reason told apart, at once and without a large buffer: a
// pipe (which blocked the open), sparse files past the cap (minutes of NULs, or bad_alloc), a
// link where links are refused, a file that changes length (a /proc file says 0 bytes and holds
// more), NUL bytes where hosts text is wanted, a file of another owner where root reads, a
// mode-000 file for a user, and, as root, any file in a folder another user owns.
TEST(ReadWholeFileTest, GivesExactBytesOrTellsWhyNot) {
#ifdef _WIN32
  GTEST_SKIP() << "needs FIFOs, symbolic links, /proc, file modes and other users; "
                  "windows_platform_test covers the Windows reader";
#else
  TempDir dir;
  using enum ReadStatus;
  const std::string ten("ab\r\ncd\n\0e\r", 10);
  WriteFile(dir.File("ten.txt"), ten);
  WriteFile(dir.File("empty.txt"), "");
  WriteFile(dir.File(".hidden"), "secret");
  WriteFile(dir.File("secret"), "root only");
  ::chmod(dir.File("secret").c_str(), 0600);
  ::symlink(dir.File("secret").c_str(), dir.File("H_link.txt").c_str());
  ::mkfifo(dir.File("H_fifo.txt").c_str(), 0666);
  testing::MakeSparseFile(dir.File("H_3g.txt"), std::uint64_t{3} << 30);
  testing::MakeSparseFile(dir.File("H_1t.txt"), std::uint64_t{1} << 40);
  ReadOptions no_links;
  no_links.links = platform::Links::kRefuse;
  ReadOptions text;
  text.hosts_text = true;
  ReadOptions roots;  // only files of the running user (root, when the tests run as root)
  roots.owner = ::geteuid();
  std::vector<std::tuple<std::string, ReadOptions, ReadStatus, std::string> > cases = {
      {dir.File("ten.txt"), {}, kOk, ten},
      {dir.File("ten.txt"), text, kNotText, ""},
      {dir.File("empty.txt"), {}, kOk, ""},
      {dir.File(".hidden"), {}, kMissing, ""},
      {dir.File("missing.txt"), {}, kMissing, ""},
      {"", {}, kMissing, ""},
      {dir.path(), {}, kNotRegular, ""},
      {dir.File("H_link.txt"), {}, kOk, "root only"},
      {dir.File("H_link.txt"), no_links, kNotRegular, ""},
      {dir.File("H_fifo.txt"), {}, kNotRegular, ""},
      {dir.File("H_3g.txt"), {}, kTooLarge, ""},
      {dir.File("H_1t.txt"), {}, kTooLarge, ""},
      {"/proc/self/status", {}, kChanged, ""},
      {dir.File("secret"), roots, kOk, "root only"},
  };
  if (::geteuid() == 0) {
    ::chown(dir.File("ten.txt").c_str(), testing::kNobody, testing::kNobody);
    cases.push_back({dir.File("ten.txt"), roots, kNotPermitted, ""});
  }
  for (const auto& one : cases) {
    // Named: clang 14 lambdas cannot capture structured bindings.
    const std::string& path = std::get<0>(one);
    SCOPED_TRACE(path);
    EXPECT_TRUE(testing::RunInChild([&] {
      std::string buffer = "left over";
      // Read in pieces of 7 bytes, the file gives the same verdict and bytes.
      std::string pieces;
      ReadStatus in_pieces;
      platform::InputFile file = OpenForReading(path, std::get<1>(one), in_pieces);
      char chunk[7];
      if (in_pieces == kOk) {
        in_pieces = ReadInChunks(file, std::get<1>(one), chunk,
                                 [&pieces](std::string_view piece) { pieces += piece; });
      }
      return ReadWholeFile(path, buffer, std::get<1>(one)) == std::get<2>(one) &&
             buffer == std::get<3>(one) && (buffer.empty() || ReadWholeFile(path) == buffer) &&
             in_pieces == std::get<2>(one) && (in_pieces != kOk || pieces == buffer);
    }));
  }
  if (::geteuid() != 0) return;
  ::chmod(dir.File("secret").c_str(), 0);
  EXPECT_TRUE(testing::RunInChild(
      [&] {
        std::string as_nobody;
        return ReadWholeFile(dir.File("secret"), as_nobody) == kUnreadable;
      },
      true));
  // As root, nothing in a folder of another user is read: they could swap it at any time.
  ::chown(dir.path().c_str(), testing::kNobody, testing::kNobody);
  std::string buffer;
  EXPECT_EQ(ReadWholeFile(dir.File("secret"), buffer, SourceReadOptions(dir.path())), kUnsafePath);
#endif
}

TEST(ReadWholeFileIntoTest, ReusedBufferHoldsOnlyTheLatestFile) {
  // Larger than the reader's 64 KiB staging buffer, of odd length, with every byte value. A
  // fresh large block from malloc starts 16 bytes into a page, which the reader fills through
  // its staging buffer.
  TempDir dir;
  std::string big;
  for (std::size_t i = 0; big.size() < (std::size_t{3} << 20) + 77; ++i) {
    big += static_cast<char>((i * 131 + i / 251) % 256);
    if (i % 37 == 0) big += "\r\n";
  }
  const std::string small = big.substr(100, 70001);
  WriteFile(dir.File("big.txt"), big);
  WriteFile(dir.File("small.txt"), small);
  std::string buffer;
  EXPECT_EQ(ReadWholeFile(dir.File("big.txt"), buffer), ReadStatus::kOk);
  EXPECT_TRUE(buffer == big);
  EXPECT_EQ(ReadWholeFile(dir.File("small.txt"), buffer), ReadStatus::kOk);
  EXPECT_TRUE(buffer == small);
  // In pieces of any size through one buffer; a file that grows or shrinks after the open is
  // refused.
  std::vector<char> chunk(kReadChunkBytes);
  const auto pieces = [&](const std::string& name, std::size_t size, const auto& change) {
    ReadStatus status;
    platform::InputFile file = OpenForReading(dir.File(name), {}, status);
    change();
    std::string read;
    if (status == ReadStatus::kOk) {
      status = ReadInChunks(file, {}, std::span<char>(chunk).first(size),
                            [&read](std::string_view piece) { read += piece; });
    }
    return std::pair(status, read);
  };
  const auto none = [] {};
  for (const std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{7}, kReadChunkBytes})
    EXPECT_TRUE(pieces("small.txt", size, none) == std::pair(ReadStatus::kOk, small)) << size;
  EXPECT_TRUE(pieces("big.txt", kReadChunkBytes, none) == std::pair(ReadStatus::kOk, big));
  // On Windows a file being read cannot be written: the change cannot happen there.
  if (testing::OnWindows()) return;
  EXPECT_EQ(pieces("small.txt", 7, [&] { WriteFile(dir.File("small.txt"), small + "x"); }).first,
            ReadStatus::kChanged);
  EXPECT_EQ(pieces("big.txt", 4096, [&] { WriteFile(dir.File("big.txt"), small); }).first,
            ReadStatus::kChanged);
}

TEST(ShellOpenTest, RemovesOneTrailingSeparatorOnly) {
  if (testing::OnWindows()) GTEST_SKIP() << "written for '/'; windows_platform_test checks '\\'";
  testing::RecordingLauncher launcher;
  for (const char* target : {"/tmp/folder/", "/tmp/folder//", "https://example.org/hosts"}) {
    ShellOpen(launcher, target);
  }
  ASSERT_EQ(launcher.records.size(), 3u);
  EXPECT_EQ(launcher.records[0].argv[0] + launcher.records[1].argv[0] + launcher.records[2].argv[0],
            "/tmp/folder/tmp/folder/https://example.org/hosts");
}

}  // namespace
}  // namespace vellomar::support
