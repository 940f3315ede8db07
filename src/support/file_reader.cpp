#include "support/file_reader.h"

#include <algorithm>
#include <cstring>

namespace vellomar::support {
namespace {

bool IsHiddenName(const std::string& path) {
  const auto slash = path.find_last_of(platform::PathSeparator() == '/' ? "/" : "\\/");
  const std::string_view base = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  return base.empty() || base.front() == '.';
}

}  // namespace

platform::InputFile OpenForReading(const std::string& path, const ReadOptions& options,
                                   ReadStatus& status) {
  if (path.empty() || (options.visible_only && IsHiddenName(path))) {
    status = ReadStatus::kMissing;
    return {};
  }
  platform::InputFile file = platform::InputFile::Open(path, options.links, status);
  // Where files are hidden by a mark (Windows), the mark is judged on the open file.
  if (status == ReadStatus::kOk && options.visible_only && file.Facts().hidden) {
    status = ReadStatus::kMissing;
  }
  if (status == ReadStatus::kOk && options.owner && file.Facts().owner != 0 &&
      file.Facts().owner != *options.owner) {
    status = ReadStatus::kNotPermitted;
  }
  if (status != ReadStatus::kOk) return {};
  return file;
}

ReadStatus ReadWholeFile(const std::string& path, std::string& buffer, const ReadOptions& options) {
  ReadStatus status;
  platform::InputFile file = OpenForReading(path, options, status);
  if (status != ReadStatus::kOk) {
    buffer.clear();
    return status;
  }
  status = file.ReadAll(buffer);
  if (status == ReadStatus::kOk && options.hosts_text &&
      std::memchr(buffer.data(), '\0', buffer.size()) != nullptr) {
    buffer.clear();
    status = ReadStatus::kNotText;
  }
  return status;
}

ReadStatus ReadInChunks(platform::InputFile& file, const ReadOptions& options,
                        std::span<char> chunk,
                        const std::function<void(std::string_view)>& consume) {
  if (!file.IsOpen() || chunk.empty()) return ReadStatus::kUnreadable;
  const std::uint64_t length = file.Facts().size;
  std::uint64_t total = 0;
  while (true) {
    std::size_t got = 0;
    while (got < chunk.size()) {
      const std::int64_t n = file.Read(chunk.data() + got, chunk.size() - got);
      if (n < 0) return ReadStatus::kUnreadable;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    total += got;
    // A file that grew is not read on: its length at the open is what every check judged.
    if (total > length) return ReadStatus::kChanged;
    if (got == 0) break;
    const std::string_view piece(chunk.data(), got);
    if (options.hosts_text && std::memchr(piece.data(), '\0', piece.size()) != nullptr) {
      return ReadStatus::kNotText;
    }
    consume(piece);
    if (got < chunk.size()) break;
  }
  // A read found the end of the file.
  return total == length ? ReadStatus::kOk : ReadStatus::kChanged;
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  (void)ReadWholeFile(path, content);
  return content;
}

BlockBuffer::BlockBuffer(std::size_t size)
    : storage_(std::make_unique_for_overwrite<char[]>(size + kPage)), size_(size) {
  const auto start = reinterpret_cast<std::uintptr_t>(storage_.get());
  data_ = storage_.get() + (kPage - start % kPage) % kPage;
}

std::optional<std::size_t> ReadBlock(platform::InputFile& file, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t n = file.Read(into + done, size - done);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

ReadOptions SourceReadOptions(const std::string& folder) {
  ReadOptions options;
  options.hosts_text = true;
  if (platform::EffectiveUser() == 0) {
    // A folder that cannot be examined is nobody's: only root's own files are read there.
    const auto facts = platform::FolderFacts(folder);
    options.owner = facts ? facts->owner : 0;
  }
  return options;
}

ReadOptions InstallReadOptions() {
  ReadOptions options;
  options.links = platform::Links::kRefuse;
  options.hosts_text = true;
  return options;
}

LineReader::LineReader(platform::InputFile& file, std::size_t max_line)
    : file_(file),
      max_line_(std::max<std::size_t>(max_line, 1)),
      buffer_(std::make_unique_for_overwrite<char[]>(2 * max_line_)) {}

std::optional<std::string_view> LineReader::Next() {
  if (status_ != ReadStatus::kOk) return std::nullopt;
  while (true) {
    const std::string_view held(buffer_.get() + begin_, end_ - begin_);
    const std::size_t lf = held.substr(0, max_line_).find('\n');
    if (lf != std::string_view::npos || held.size() >= max_line_ || (at_end_ && !held.empty())) {
      const std::size_t length =
          lf != std::string_view::npos ? lf + 1 : std::min(held.size(), max_line_);
      const bool ends_line = lf != std::string_view::npos || (at_end_ && length == held.size());
      whole_ = !continued_ && ends_line;
      continued_ = !ends_line;
      begin_ += length;
      return held.substr(0, length);
    }
    if (at_end_) return std::string_view();
    // Room for a block after what is held, which is less than one line's cap.
    std::memmove(buffer_.get(), buffer_.get() + begin_, held.size());
    end_ = held.size();
    begin_ = 0;
    const auto got = ReadBlock(file_, buffer_.get() + end_, 2 * max_line_ - end_);
    if (!got) {
      status_ = ReadStatus::kUnreadable;
      return std::nullopt;
    }
    total_ += *got;
    end_ += *got;
    if (*got < 2 * max_line_ - held.size()) {
      at_end_ = true;
      if (total_ != file_.Facts().size) {
        status_ = ReadStatus::kChanged;
        return std::nullopt;
      }
    } else if (total_ > file_.Facts().size) {
      status_ = ReadStatus::kChanged;
      return std::nullopt;
    }
  }
}

}  // namespace vellomar::support
