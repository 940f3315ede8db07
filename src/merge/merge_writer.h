#pragma once
// The merged hosts writer: header first, then every source between its markers.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "merge/address_mode.h"
#include "merge/markers.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::merge {

inline constexpr std::string_view kCreatedDatePlaceholder = "#CREATEDDATE#";
inline constexpr std::string_view kHostNamePlaceholder = "#HOSTNAME#";

// Windows' resolver reads no more than this many names of a hosts line and ignores the rest.
inline constexpr std::size_t kWindowsNamesPerLine = 9;

// A name "#HOSTNAME#" may be filled with: 1 to 253 bytes of ASCII letters, digits, '-' and '.'.
// Anything else (a line break from a host name set in a namespace, say) could add lines of its
// own to the merged file.
bool IsValidHostName(std::string_view name);

// Kinds of list entry, by name in lower case.
bool IsHeaderEntry(std::string_view name);  // contains "header"
bool IsMvpsEntry(std::string_view name);    // contains "mvps"

// Writes one merged file. Output goes to a temporary file beside the target, which replaces
// the target only on Commit, so the target is never left partial. The temporary files of
// earlier writers that were killed are removed first. A merged file larger than
// platform::kMaxFileBytes is refused.
class MergeWriter {
 public:
  enum class CommitResult {
    kReplaced,       // the target now holds the new merged file
    kWriteFailed,    // the new file could not be completed; the target is unchanged
    kReplaceFailed,  // the new file was complete but could not take the target's place
    kTooLarge,       // the merged file would pass platform::kMaxFileBytes; the target is unchanged
  };

  // `date_text` replaces "#CREATEDDATE#" (it holds no line end) and `host_name` "#HOSTNAME#" in
  // every file; a host name that is not IsValidHostName leaves the placeholder as it is. When the
  // temporary file cannot be created, the Add calls do nothing and Commit reports kWriteFailed.
  // For `os` kWindows, a line of an address and more than kWindowsNamesPerLine names is written
  // as several lines of the same address (see merge_writer.cpp); kPosix writes lines as they are.
  MergeWriter(std::string target_path, AddressMode mode, support::LineEnd line_end,
              std::string date_text, std::string host_name = {},
              platform::OsFamily os = platform::NativeOsFamily());
  ~MergeWriter();
  MergeWriter(const MergeWriter&) = delete;
  MergeWriter& operator=(const MergeWriter&) = delete;

  // The header entry's text: processed text, then a line end.
  void AddHeader(std::string_view text);
  // A source: start marker, processed text, end marker, separator line and an empty line.
  void AddSource(std::string_view name, std::string_view text);
  // Completes the file and puts it in the target's place. Call once.
  CommitResult Commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vellomar::merge
