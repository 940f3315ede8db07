#pragma once
// The whole-file reader: the one way the program reads a file, whole or a block at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vellomar::support {

using platform::ReadStatus;

// How a file is to be read.
struct ReadOptions {
  platform::Links links = platform::Links::kFollow;
  // A hidden name (or, on Windows, a file marked hidden) reads as kMissing, as the existence
  // test leaves it out. The program's own hidden files (the marks note) are read with false.
  bool visible_only = true;
  // A file holding a NUL byte is no hosts file: kNotText.
  bool hosts_text = false;
  // When set, the file must belong to root or to this user (kNotPermitted otherwise): what
  // root merges is nobody else's to change.
  std::optional<std::uint32_t> owner;
};

// Opens `path` as `options` say, checked through the open file (a regular file within the size
// cap, visible, of the owner asked for); `status` is kOk exactly when the result is open.
platform::InputFile OpenForReading(const std::string& path, const ReadOptions& options,
                                   ReadStatus& status);

// Replaces `buffer` with the whole content of the file at `path`, read straight into its
// storage, which keeps its capacity: a caller that reads many files into one buffer pays for
// fresh memory only when a file is larger than every one before it. kOk when `buffer` holds the
// whole file (an empty file included); otherwise why not, with `buffer` empty. A file that holds
// more or fewer bytes at the end of the read than its length said at the start is kChanged.
[[nodiscard]] ReadStatus ReadWholeFile(const std::string& path, std::string& buffer,
                                       const ReadOptions& options = {});

// The size of the pieces ReadInChunks hands on by default: large enough that the calls cost
// nothing next to the copying, small enough to stay in the processor's cache in between.
inline constexpr std::size_t kReadChunkBytes = std::size_t{256} << 10;

// Reads the file that OpenForReading opened with `options` from its start to its end, a piece
// of at most `chunk.size()` bytes at a time into `chunk` (whose bytes are overwritten, never
// filled first), and hands each piece to `consume` in order. kOk when every byte was handed on
// and the file held exactly Facts().size bytes at the end; otherwise why not, and the caller
// must drop what it was given: kChanged (the file is longer or shorter than its length said
// at the open; reading stops as soon as it is longer), kUnreadable, or, for hosts text,
// kNotText as soon as a piece holds a NUL byte (that piece is not handed on).
[[nodiscard]] ReadStatus ReadInChunks(platform::InputFile& file, const ReadOptions& options,
                                      std::span<char> chunk,
                                      const std::function<void(std::string_view)>& consume);

// The whole content of the visible file at `path`, byte for byte, or empty text when it cannot
// be read.
std::string ReadWholeFile(const std::string& path);

// A buffer for reading and writing files a block at a time, starting at a page boundary: copies
// between it and the system's file cache, whose pages it then lines up with, run at the
// processor's full speed (some run several times slower at small distances within a page, and
// an ordinary large allocation lies 16 bytes into one). Throws std::bad_alloc.
class BlockBuffer {
 public:
  explicit BlockBuffer(std::size_t size);
  char* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  static constexpr std::size_t kPage = 4096;
  std::unique_ptr<char[]> storage_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Reads from `file` until `into` holds `size` bytes or the file ends: the count read, fewer than
// `size` only at the end; nullopt when a read fails.
std::optional<std::size_t> ReadBlock(platform::InputFile& file, char* into, std::size_t size);

// Hands out the lines of an open file one at a time, each with its line break (the LF, and a CR
// before it, kept as read), reading a block at a time: memory stays within two blocks whatever
// the file. A line longer than `max_line` is handed out in pieces of `max_line` bytes, the last
// with the line break, each marked as not whole, so that two files cut the same way compare
// piece by piece.
class LineReader {
 public:
  static constexpr std::size_t kDefaultMaxLine = std::size_t{64} << 10;
  explicit LineReader(platform::InputFile& file, std::size_t max_line = kDefaultMaxLine);
  // The next line or piece; an empty view at the end of the file; nullopt when a read failed or
  // the file changed length while read (status() says which).
  std::optional<std::string_view> Next();
  // Whether the last piece handed out is a whole line.
  bool Whole() const { return whole_; }
  ReadStatus status() const { return status_; }

 private:
  platform::InputFile& file_;
  std::size_t max_line_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t total_ = 0;
  bool at_end_ = false;
  bool whole_ = true;
  bool continued_ = false;  // the line handed out last goes on
  ReadStatus status_ = ReadStatus::kOk;
};

// The options for the sources in `folder`: hosts text only; a link is followed, through the
// walk's rule, to a regular file; and when the program runs as root, the file must belong to
// root or to the folder's owner.
ReadOptions SourceReadOptions(const std::string& folder);

// The options for a file about to be installed: hosts text only, and never through a link at its
// name, so that what was checked is what is installed.
ReadOptions InstallReadOptions();

}  // namespace vellomar::support
