#pragma once
// The merged hosts writer: header first, then every source between its markers.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// What a merge does with the names of block lines: lines that map names to 0.0.0.0, 127.0.0.1,
// :: or ::1 (the address as it is written out, after the address mode's rewrite). Localhost
// lines, comments and lines of other addresses are never touched. A name left out goes with the
// blanks before it; a line left with no names goes whole, with its line end.
struct NameRules {
  // Names that are never blocked (an empty function allows none).
  std::function<bool(std::string_view)> allowed;
  // A name blocked by an earlier line of the merged file (the header's included) is left out of
  // later lines; IPv4 and IPv6 lines count apart, case does not count.
  bool dedupe = false;
  // In a source (never the header), the block lines without a comment are written again as
  // lines of at most kWindowsNamesPerLine names: "0.0.0.0 a b c"; a run ends at any other line
  // (kept as it is) or at a change of address.
  bool pack = false;
};

// How many names a merge left out, by rule.
struct NamesLeftOut {
  std::uint64_t allowed = 0;
  std::uint64_t duplicates = 0;
};

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

  // The same for a file given a piece at a time, so that no file is ever held whole: BeginHeader
  // or BeginSource, then Add with consecutive pieces of its text cut anywhere (inside a line, a
  // line end or a placeholder alike), then EndFile. The output is byte for byte that of
  // AddHeader or AddSource with the whole text. `size` is the text's length as far as it is
  // known at the start; a file that would take the merge past the size cap is refused before
  // any of it is written.
  void BeginHeader(std::uint64_t size);
  void BeginSource(std::string_view name, std::uint64_t size);
  void Add(std::string_view piece);
  void EndFile();
  // Takes back everything written since the last Begin call, as if the file had never been
  // given: for a file that could not be read to its end.
  void DropFile();

  // Applies `rules` to every file begun after this call. Without it (or with rules that do
  // nothing) the merged file is that of a merge without rules on names, byte for byte.
  void SetNameRules(NameRules rules);
  // The names left out so far (a dropped file's not counted).
  NamesLeftOut LeftOut() const;

  // `watcher` receives every byte handed to the file, in order, as it is written: on a thread
  // of the writer's own, which writes while the merge goes on. Every byte before a Begin call
  // has reached it when the call returns, and every byte at all when DropFile or Commit returns,
  // so a watcher whose state is copied after a Begin call can go back to that copy on DropFile,
  // and is read safely then.
  void WatchOutput(std::function<void(std::string_view)> watcher);
  // Completes the file and puts it in the target's place. Call once.
  CommitResult Commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string source_name_;  // of the source begun last, for its end marker
  bool in_source_ = false;
};

}  // namespace vellomar::merge
