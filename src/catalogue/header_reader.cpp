#include "catalogue/header_reader.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "merge/markers.h"
#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::catalogue {
namespace {

using support::LineEnd;

constexpr std::string_view kDatedMark = "# -------";
constexpr std::string_view kUpdatedMark = "------- Updated:";
constexpr std::string_view kCreatedMark = "------- Created:";
constexpr std::string_view kUpdatedKeyword = "Updated:";
constexpr std::string_view kCreatedKeyword = "Created:";
// The value starts after the eight-character keyword and the one character that follows it.
constexpr std::size_t kValueOffset = 9;
constexpr std::string_view kValueEnd = " ---";

// Small enough to stay in the processor's cache between the read and the scan.
constexpr std::size_t kChunkBytes = std::size_t{1} << 17;

std::string DatedValue(std::string_view line, std::string_view keyword) {
  const std::size_t from = line.find(keyword) + kValueOffset;
  if (from >= line.size()) return {};
  const std::string_view rest = line.substr(from);
  return std::string(rest.substr(0, rest.find(kValueEnd)));
}

// True when the byte at `at` ends a line break of the dialect.
bool EndsLineBreak(std::string_view text, std::size_t at, LineEnd line_end) {
  return text[at] == '\n' && (line_end == LineEnd::kLf || (at > 0 && text[at - 1] == '\r'));
}

// Calls fn(line) for each line of `text` (as support::ForEachLine splits it) that holds a '#',
// in order, until fn returns false. Both marks the header reader looks for start with '#', so
// every other line is of no interest; jumping from one '#' to the next with memchr keeps a
// large hosts file, mostly of entry lines, close to the cost of one pass over its bytes.
template <typename Fn>
void ForEachLineWithHash(std::string_view text, LineEnd line_end, Fn&& fn) {
  // No line starts before `floor`: it is the start of the text or just after a line break.
  std::size_t floor = 0;
  while (floor < text.size()) {
    const void* hit = std::memchr(text.data() + floor, '#', text.size() - floor);
    if (hit == nullptr) return;
    const auto hash = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    std::size_t start = hash;
    while (start > floor && !EndsLineBreak(text, start - 1, line_end)) --start;

    std::size_t end;
    std::size_t next;
    if (line_end == LineEnd::kLf) {
      end = text.find('\n', hash);
      next = end == std::string_view::npos ? text.size() : end + 1;
      if (end == std::string_view::npos) {
        end = text.size();
      } else if (text[end - 1] == '\r') {
        --end;  // a CR before the LF belongs to the line end; the '#' keeps it inside the line
      }
    } else {
      end = text.find("\r\n", hash);
      next = end == std::string_view::npos ? text.size() : end + 2;
      if (end == std::string_view::npos) end = text.size();
    }
    if (!fn(text.substr(start, end - start))) return;
    floor = next;
  }
}

// The reader's state, so that text can be given to it in pieces of whole lines.
class HeaderScanner {
 public:
  explicit HeaderScanner(LineEnd line_end)
      : line_end_(line_end), line_end_text_(support::LineEndText(line_end)) {}

  // Examines the lines of `lines`, which starts at a line start and ends just after a line
  // break or at the end of the text. False once reading has stopped.
  bool Feed(std::string_view lines) {
    if (!Reading()) return false;
    ForEachLineWithHash(lines, line_end_, [this](std::string_view line) {
      Examine(line);
      return Reading();
    });
    return Reading();
  }

  bool Reading() const { return dated_lines_ < kDatedLinesRead; }

  HeaderReport Finish() && {
    std::size_t start = 0;
    while (start < names_.size()) {
      const std::size_t comma =
          names_.find(merge::kNameSeparator, start);  // every name is followed by one
      if (comma > start) report_.source_names.emplace_back(names_, start, comma - start);
      start = comma + 1;
    }
    return std::move(report_);
  }

 private:
  void Examine(std::string_view line) {
    if (support::Contains(line, kDatedMark)) {
      // A line of dashes that is neither kind is not a start marker either.
      const DatedLine kind = DatedLineKind(line);
      if (kind == DatedLine::kNone) return;
      const bool updated = kind == DatedLine::kUpdated;
      report_.version_text.append(line).append(line_end_text_);
      if (updated) {
        report_.updated = DatedValue(line, kUpdatedKeyword);
      } else {
        report_.created = DatedValue(line, kCreatedKeyword);
      }
      ++dated_lines_;
    } else if (const auto mark = line.find(merge::kStartMarker); mark != std::string_view::npos) {
      support::AppendReplacingAll(names_, line.substr(mark + merge::kStartMarker.size()),
                                  merge::kMarkerEnd, "");
      names_ += merge::kNameSeparator;
    }
  }

  LineEnd line_end_;
  std::string_view line_end_text_;
  HeaderReport report_;
  std::string names_;  // every name read so far, each followed by ','
  int dated_lines_ = 0;
};

// Line breaks are counted in fixed blocks with a one-byte counter: the compiler turns such an
// inner loop into vector instructions, which a plain byte-by-byte count or a memchr per line
// does not reach by several times.
constexpr std::size_t kCountBlock = 64;

// Number of LF bytes in bytes[0, size).
std::uint64_t CountLf(const char* bytes, std::size_t size) {
  std::uint64_t count = 0;
  std::size_t i = 0;
  for (; i + kCountBlock <= size; i += kCountBlock) {
    unsigned char in_block = 0;
    for (std::size_t j = 0; j < kCountBlock; ++j) {
      in_block = static_cast<unsigned char>(in_block + (bytes[i + j] == '\n'));
    }
    count += in_block;
  }
  for (; i < size; ++i) count += bytes[i] == '\n';
  return count;
}

// Number of CR LF pairs in bytes[0, size).
std::uint64_t CountCrLf(const char* bytes, std::size_t size) {
  std::uint64_t count = 0;
  std::size_t i = 1;  // the index of the LF of a pair
  for (; i + kCountBlock <= size; i += kCountBlock) {
    unsigned char in_block = 0;
    for (std::size_t j = 0; j < kCountBlock; ++j) {
      in_block = static_cast<unsigned char>(in_block +
                                            ((bytes[i + j] == '\n') & (bytes[i + j - 1] == '\r')));
    }
    count += in_block;
  }
  for (; i < size; ++i) count += bytes[i] == '\n' && bytes[i - 1] == '\r';
  return count;
}

// Counts lines as support::CountLines does, over text given in consecutive chunks.
class LineCounter {
 public:
  explicit LineCounter(LineEnd line_end) : line_end_(line_end) {}

  void Add(const char* bytes, std::size_t size) {
    if (size == 0) return;
    seen_ += size;
    if (line_end_ == LineEnd::kLf) {
      breaks_ += CountLf(bytes, size);
    } else {
      // A pair may have its CR at the end of the previous chunk.
      breaks_ += (after_cr_ && bytes[0] == '\n') + CountCrLf(bytes, size);
      after_cr_ = bytes[size - 1] == '\r';
    }
  }

  std::uint64_t seen() const { return seen_; }
  std::uint64_t Lines() const { return seen_ == 0 ? 0 : breaks_ + 1; }

 private:
  LineEnd line_end_;
  std::uint64_t breaks_ = 0;
  std::uint64_t seen_ = 0;
  bool after_cr_ = false;
};

// Index just after the last line break whose final byte lies in text[from, size), or npos.
std::size_t AfterLastBreak(const char* text, std::size_t from, std::size_t size, LineEnd line_end) {
  for (std::size_t i = size; i > from; --i) {
    const std::size_t at = i - 1;
    if (text[at] == '\n' && (line_end == LineEnd::kLf || (at > 0 && text[at - 1] == '\r'))) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Index just after the first line break that ends in `bytes`, or npos. `after_cr`: the byte
// before `bytes` is a CR, which a LF at its start completes to a CR LF line break.
std::size_t AfterFirstBreak(std::string_view bytes, bool after_cr, LineEnd line_end) {
  if (line_end == LineEnd::kLf || (after_cr && !bytes.empty() && bytes[0] == '\n')) {
    const std::size_t lf = bytes.find('\n');
    return lf == std::string_view::npos ? lf : lf + 1;
  }
  const std::size_t pair = bytes.find("\r\n");
  return pair == std::string_view::npos ? pair : pair + 2;
}

// The header reader over text given in consecutive pieces of any size: whole lines go to the
// scanner as they are completed, and the line not yet ended waits in `partial_`.
class HeaderStream {
 public:
  explicit HeaderStream(LineEnd line_end) : line_end_(line_end), scanner_(line_end) {}

  void Add(std::string_view bytes) {
    if (!reading_ || bytes.empty()) return;
    if (!partial_.empty()) {
      const std::size_t first = AfterFirstBreak(bytes, partial_.back() == '\r', line_end_);
      if (first == std::string_view::npos) {
        partial_.append(bytes);
        return;
      }
      partial_.append(bytes.substr(0, first));
      reading_ = scanner_.Feed(partial_);
      partial_.clear();
      bytes.remove_prefix(first);
      if (!reading_) return;
    }
    // `bytes` now starts a line: a LF at its start ends no CR LF pair.
    const std::size_t last = AfterLastBreak(bytes.data(), 0, bytes.size(), line_end_);
    if (last == std::string_view::npos) {
      partial_.assign(bytes);
      return;
    }
    reading_ = scanner_.Feed(bytes.substr(0, last));
    if (reading_) partial_.assign(bytes.substr(last));
  }

  // The last line, which no line break ends, is examined too.
  HeaderReport Finish() && {
    if (reading_) scanner_.Feed(partial_);
    return std::move(scanner_).Finish();
  }

 private:
  LineEnd line_end_;
  HeaderScanner scanner_;
  std::string partial_;
  bool reading_ = true;
};

// Opens `path` as the whole-file reader does: hidden names are left out, and only a regular
// file of at most the size cap is read.
platform::InputFile OpenWhole(const std::string& path, platform::ReadStatus& status) {
  return support::OpenForReading(path, {}, status);
}

// The line count of the open file's text as the whole-file reader gives it; nullopt when a
// read fails or its length is not what it was at the open once it has been read through.
std::optional<std::uint64_t> CountFileLines(platform::InputFile& file, LineEnd line_end) {
  const auto buffer = std::make_unique<char[]>(kChunkBytes);
  LineCounter counter(line_end);
  while (true) {
    const auto got = support::ReadBlock(file, buffer.get(), kChunkBytes);
    if (!got) return std::nullopt;
    counter.Add(buffer.get(), *got);
    if (*got < kChunkBytes) break;
    // A file still growing past its length at the open is not read on for ever.
    if (counter.seen() > file.Facts().size) return std::nullopt;
  }
  if (counter.seen() != file.Facts().size) return std::nullopt;
  return counter.Lines();
}

}  // namespace

DatedLine DatedLineKind(std::string_view line) {
  if (!support::Contains(line, kDatedMark)) return DatedLine::kNone;
  if (support::Contains(line, kUpdatedMark)) return DatedLine::kUpdated;
  if (support::Contains(line, kCreatedMark)) return DatedLine::kCreated;
  return DatedLine::kNone;
}

HeaderReport ReadHeader(std::string_view text, LineEnd line_end) {
  HeaderScanner scanner(line_end);
  scanner.Feed(text);
  return std::move(scanner).Finish();
}

HeaderReport ReadHeaderFile(const std::string& path, LineEnd line_end) {
  HeaderReport failed;
  platform::InputFile file = OpenWhole(path, failed.status);
  if (failed.status != platform::ReadStatus::kOk) return failed;
  const std::uint64_t length = file.Facts().size;
  try {
    // The stream holds a line only until it ends, and never more than the file's length, which
    // is within the size cap.
    HeaderStream stream(line_end);
    const auto buffer = std::make_unique_for_overwrite<char[]>(kChunkBytes);
    std::uint64_t total = 0;
    while (true) {
      const auto got = support::ReadBlock(file, buffer.get(), kChunkBytes);
      if (!got) {
        failed.status = platform::ReadStatus::kUnreadable;
        return failed;
      }
      total += *got;
      if (total > length) break;  // the file grew: reported below
      // Read on to the end after the stream has stopped, so that a change of length is noticed.
      stream.Add(std::string_view(buffer.get(), *got));
      if (*got < kChunkBytes) break;
    }
    // The whole-file reader gives nothing for a file it could not read whole.
    if (total != length) {
      failed.status = platform::ReadStatus::kChanged;
      return failed;
    }
    return std::move(stream).Finish();
  } catch (const std::bad_alloc&) {
    failed.status = platform::ReadStatus::kTooLarge;
    return failed;
  }
}

std::string FileSummary(const std::string& path, LineEnd line_end) {
  platform::ReadStatus status;
  platform::InputFile file = OpenWhole(path, status);
  if (status != platform::ReadStatus::kOk) return {};
  // A file that cannot be read whole has the line count of empty text, as ever.
  const std::uint64_t lines = CountFileLines(file, line_end).value_or(0);
  return SummaryText(lines, file.Facts().size);
}

std::string SummaryText(std::uint64_t lines, std::uint64_t bytes) {
  return std::to_string(lines) + " Lines - len: " + std::to_string(bytes);
}

struct TextTally::State {
  explicit State(LineEnd line_end) : lines(line_end), header(line_end) {}
  LineCounter lines;
  HeaderStream header;
};

TextTally::TextTally(LineEnd line_end) : state_(std::make_unique<State>(line_end)) {}
TextTally::~TextTally() = default;
TextTally::TextTally(const TextTally& other) : state_(std::make_unique<State>(*other.state_)) {}
TextTally& TextTally::operator=(const TextTally& other) {
  if (this != &other) *state_ = *other.state_;
  return *this;
}

void TextTally::Add(std::string_view bytes) {
  state_->lines.Add(bytes.data(), bytes.size());
  state_->header.Add(bytes);
}

std::uint64_t TextTally::Bytes() const { return state_->lines.seen(); }

std::string TextTally::Summary() const { return SummaryText(state_->lines.Lines(), Bytes()); }

HeaderReport TextTally::Finish() { return std::move(state_->header).Finish(); }

}  // namespace vellomar::catalogue
