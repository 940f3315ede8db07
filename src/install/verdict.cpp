#include "install/verdict.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "catalogue/header_reader.h"
#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::install {

namespace {

// Opens both files as the whole-file reader opens them (hidden names and marked files are not
// there); false when either cannot be opened.
bool OpenBoth(const std::string& a, const std::string& b, platform::InputFile& file_a,
              platform::InputFile& file_b) {
  platform::ReadStatus status_a;
  platform::ReadStatus status_b;
  file_a = support::OpenForReading(a, {}, status_a);
  file_b = support::OpenForReading(b, {}, status_b);
  return status_a == platform::ReadStatus::kOk && status_b == platform::ReadStatus::kOk;
}

}  // namespace

Sameness CompareFiles(const std::string& a, const std::string& b, const CompareOptions& options) {
  platform::InputFile file_a;
  platform::InputFile file_b;
  if (!OpenBoth(a, b, file_a, file_b)) return Sameness::kDifferent;
  const std::uint64_t size = file_a.Facts().size;
  if (size != file_b.Facts().size) return Sameness::kDifferent;
  // Two blocks of one allocation, never larger than the files need.
  const std::size_t block = static_cast<std::size_t>(std::max<std::uint64_t>(
      1, std::min<std::uint64_t>(std::max<std::size_t>(options.block, 1), size + 1)));
  std::optional<support::BlockBuffer> buffer;
  try {
    buffer.emplace(2 * block);
  } catch (const std::bad_alloc&) {
    return Sameness::kUnknown;
  }
  char* const block_a = buffer->data();
  char* const block_b = buffer->data() + block;
  std::uint64_t total = 0;
  while (true) {
    const auto got_a = support::ReadBlock(file_a, block_a, block);
    const auto got_b = support::ReadBlock(file_b, block_b, block);
    if (!got_a || !got_b) return Sameness::kUnknown;
    if (*got_a != *got_b || std::memcmp(block_a, block_b, *got_a) != 0) return Sameness::kDifferent;
    total += *got_a;
    if (total > size) return Sameness::kDifferent;  // still growing
    if (options.on_same_block && *got_a > 0) options.on_same_block({block_a, *got_a});
    if (*got_a < block) break;
  }
  return total == size ? Sameness::kSame : Sameness::kDifferent;
}

Sameness CompareApartFromCreated(const std::string& a, const std::string& b) {
  platform::InputFile file_a;
  platform::InputFile file_b;
  if (!OpenBoth(a, b, file_a, file_b)) return Sameness::kDifferent;
  try {
    support::LineReader lines_a(file_a);
    support::LineReader lines_b(file_b);
    int dated_lines = 0;  // of `a`: the reader reads no more than kDatedLinesRead
    while (true) {
      const auto line_a = lines_a.Next();
      const auto line_b = lines_b.Next();
      if (!line_a || !line_b) return Sameness::kUnknown;
      if (line_a->empty() || line_b->empty()) {
        return line_a->empty() && line_b->empty() ? Sameness::kSame : Sameness::kDifferent;
      }
      if (*line_a == *line_b) {
        if (lines_a.Whole() && catalogue::DatedLineKind(*line_a) != catalogue::DatedLine::kNone) {
          ++dated_lines;
        }
        continue;
      }
      const bool both_created =
          lines_a.Whole() && lines_b.Whole() && dated_lines < catalogue::kDatedLinesRead &&
          catalogue::DatedLineKind(*line_a) == catalogue::DatedLine::kCreated &&
          catalogue::DatedLineKind(*line_b) == catalogue::DatedLine::kCreated;
      if (!both_created) return Sameness::kDifferent;
      ++dated_lines;
    }
  } catch (const std::bad_alloc&) {
    return Sameness::kUnknown;
  }
}

Sameness JudgeInstall(std::string_view merged_version_text, std::string_view current_version_text,
                      const std::string& merged_path, const std::string& hosts_path) {
  if (!merged_version_text.empty() && merged_version_text != current_version_text) {
    return Sameness::kDifferent;
  }
  // Equal version texts prove nothing when a failed copy left an older file with the same
  // header, or when the merged file has no dated lines at all: the bytes decide.
  return CompareFiles(merged_path, hosts_path);
}

bool NamesHost(std::string_view hosts, std::string_view host_name, support::LineEnd line_end) {
  HostNameFinder finder(host_name, line_end);
  finder.Add(hosts);
  return finder.Found();
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

const char* FindByte(const char* from, const char* end, char c) {
  return from < end ? static_cast<const char*>(std::memchr(from, c, end - from)) : nullptr;
}

}  // namespace

HostNameFinder::HostNameFinder(std::string_view host_name, support::LineEnd line_end)
    : name_(support::ToLowerAscii(host_name)), line_end_(line_end) {}

bool HostNameFinder::Step(char c) {
  const bool after_cr = std::exchange(after_cr_, c == '\r');
  if (c == '\n' && (line_end_ == support::LineEnd::kLf || after_cr)) {
    if (!comment_) EndWord();
    line_start_ = true;
    comment_ = false;
    address_ = true;
    return true;
  }
  if (comment_) return false;
  if (c == '#') {
    EndWord();
    comment_ = true;
  } else if (IsBlank(c)) {
    EndWord();
  } else {
    word_matches_ =
        word_matches_ && word_length_ < name_.size() && LowerAscii(c) == name_[word_length_];
    ++word_length_;
  }
  return false;
}

void HostNameFinder::EndWord() {
  if (word_length_ == 0) return;
  if (EndsFound()) found_ = true;
  address_ = false;
  word_length_ = 0;
  word_matches_ = true;
}

bool HostNameFinder::EndsFound() const {
  return !comment_ && !address_ && word_matches_ && word_length_ == name_.size() &&
         word_length_ > 0;
}

bool HostNameFinder::Found() const { return found_ || EndsFound(); }

void HostNameFinder::Add(std::string_view text) {
  if (found_ || name_.empty()) return;
  const char* p = text.data();
  const char* const end = p + text.size();
  // Where the name may begin at `at`: it does, or the text ends within it.
  const auto matches_at = [&](const char* at) {
    for (std::size_t i = 0; i < name_.size(); ++i) {
      if (at + i == end) return true;
      if (LowerAscii(at[i]) != name_[i]) return false;
    }
    return true;
  };
  // The next place of each case of the name's first letter at or after a point (`end`: none),
  // kept between the calls below, so that the text is searched through once for each.
  const char lower = name_[0];
  const char upper = UpperAscii(lower);
  const char* next_lower = nullptr;
  const char* next_upper = upper == lower ? end : nullptr;
  const auto find_from = [&](const char*& next, char c, const char* from) {
    if (next == nullptr || (next != end && next < from)) {
      const char* found = FindByte(from, end, c);
      next = found == nullptr ? end : found;
    }
    return next;
  };
  const auto next_candidate = [&](const char* from) -> const char* {
    while (true) {
      const char* at =
          std::min(find_from(next_lower, lower, from), find_from(next_upper, upper, from));
      if (at == end) return nullptr;
      if (matches_at(at)) return at;
      from = at + 1;
    }
  };
  // Just after the last line break in [from, to); nullptr when there is none.
  const auto break_before = [&](const char* from, const char* to) -> const char* {
    while (to > from) {
      const auto at = std::string_view(from, static_cast<std::size_t>(to - from)).rfind('\n');
      if (at == std::string_view::npos) break;
      const char* lf = from + at;
      if (line_end_ == support::LineEnd::kLf || (lf > text.data() && lf[-1] == '\r')) {
        return lf + 1;
      }
      to = lf;
    }
    return nullptr;
  };
  // Whether the whole name at `at`, on the line that starts at `line`, is one of its names: a
  // word of its own, after the address and before any '#'.
  const auto names_at = [&](const char* line, const char* at) {
    const char after = at[name_.size()];
    const auto prefix = std::string_view(line, static_cast<std::size_t>(at - line));
    return (at == line || IsBlank(at[-1])) &&
           (IsBlank(after) || after == '#' ||
            (after == '\n' && line_end_ == support::LineEnd::kLf)) &&
           prefix.find('#') == std::string_view::npos &&
           prefix.find_first_not_of(" \t\r\f\v") != std::string_view::npos;
  };
  while (p < end && !found_) {
    if (line_start_) {
      // Only the places where the name is whole within the text are looked at; the lines
      // without one cannot name the host and are skipped unread.
      const char* from = p;
      const char* hit = next_candidate(from);
      while (hit != nullptr && hit + name_.size() < end) {
        if (const char* start = break_before(from, hit)) p = start;
        if (names_at(p, hit)) {
          found_ = true;
          return;
        }
        from = hit + 1;
        hit = next_candidate(from);
      }
      // The last line, which the next text may go on, is read by the state machine.
      if (const char* start = break_before(from, hit == nullptr ? end : hit)) p = start;
      if (p == end) break;
      line_start_ = false;
      after_cr_ = false;
    }
    while (p < end && !Step(*p++)) {
    }
  }
}

}  // namespace vellomar::install
