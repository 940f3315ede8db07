#pragma once
// The hosts header reader: dated header lines, start markers and the size summary.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::catalogue {

// Field values stored when a file has no dated line of a kind.
inline constexpr std::string_view kCurrentDefault = "Missing or non MVPS HOSTS File";
inline constexpr std::string_view kMergedDefault = "Missing or non ZR HOSTS File";

struct HeaderReport {
  // Every accepted dated header line, whole, each followed by the line end, in file order.
  std::string version_text;
  // Value of the last update / creation line read; nullopt when there was none.
  std::optional<std::string> updated;
  std::optional<std::string> created;
  // Names given by the start markers read, in file order, split at ',' with empty pieces
  // dropped (a name is never selected twice by its reader, but may be listed twice here).
  std::vector<std::string> source_names;
  // For ReadHeaderFile: how the file was read; every field above is empty unless kOk.
  platform::ReadStatus status = platform::ReadStatus::kOk;
};

// Which dated header line a line is: the reader's one rule, shared with the comparisons that
// let the creation date alone differ. Reading stops after kDatedLinesRead dated lines.
enum class DatedLine { kNone, kUpdated, kCreated };
DatedLine DatedLineKind(std::string_view line);
inline constexpr int kDatedLinesRead = 4;

// Reads the header of a hosts file's text. Lines are split by `line_end`; reading stops after
// the fourth dated header line.
HeaderReport ReadHeader(std::string_view text, support::LineEnd line_end);

// ReadHeader over the text that support::ReadWholeFile gives for `path` (empty when the file
// does not exist or cannot be read whole), read in chunks instead of held in memory at once.
// The file is opened once, without blocking, and must be a regular file of at most
// platform::kMaxFileBytes; `status` in the report says why it was not read.
HeaderReport ReadHeaderFile(const std::string& path, support::LineEnd line_end);

// The size summary of the file at `path`: the line count, " Lines - len: " and the length in
// bytes; empty text when no regular file of at most platform::kMaxFileBytes exists there. A
// file that cannot be read through counts 0 lines. The count is 64-bit.
std::string FileSummary(const std::string& path, support::LineEnd line_end);

// The size summary of a text of `lines` lines and `bytes` bytes, as FileSummary words it.
std::string SummaryText(std::uint64_t lines, std::uint64_t bytes);

// What FileSummary and ReadHeaderFile give for a file that is read whole, worked out from its
// bytes as they are written, given in consecutive pieces of any size: a writer that knows
// every byte it writes need not read its file back. Memory: the longest line that holds a
// '#' before reading stops, plus the line being read. Copies are independent.
class TextTally {
 public:
  explicit TextTally(support::LineEnd line_end);
  ~TextTally();
  TextTally(const TextTally& other);
  TextTally& operator=(const TextTally& other);

  // The next bytes of the text.
  void Add(std::string_view bytes);
  std::uint64_t Bytes() const;
  // FileSummary of the text so far.
  std::string Summary() const;
  // ReadHeader of the text so far; the tally takes no more bytes afterwards.
  HeaderReport Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vellomar::catalogue
