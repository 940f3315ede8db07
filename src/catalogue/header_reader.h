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

// What ReadHeaderFile and FileSummary report for a file that holds a text given a block at a
// time, in order: for a caller that reads the file anyway (the install's verdict).
class TextReport {
 public:
  explicit TextReport(support::LineEnd line_end);
  ~TextReport();
  TextReport(const TextReport&) = delete;
  TextReport& operator=(const TextReport&) = delete;

  void Add(std::string_view block);
  // The bytes given so far.
  std::uint64_t Bytes() const;
  // FileSummary's text for the text given.
  std::string Summary() const;
  // ReadHeaderFile's report for the text given. Call once, at the end.
  HeaderReport Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vellomar::catalogue
