#pragma once
// What the lines of a hosts file map: the entries of the user's own that an install must not
// drop unasked, and the names a new file adds and takes away, source by source. Every file is
// read a line at a time (support::LineReader), never whole.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::install {

// One mapping of a hosts line: an address and one of its names, both as written.
struct HostEntry {
  std::string address;
  std::string name;
  bool operator==(const HostEntry&) const = default;
};

// The address and the names of an active hosts line: its first field when that is an IPv4 or
// IPv6 address, then the fields up to a "#". Nothing for comments, blank lines and lines that
// start with no address. The line may end in its line break.
struct HostsLine {
  std::string_view address;
  std::vector<std::string_view> names;
};
std::optional<HostsLine> ParseHostsLine(std::string_view line);

// Whether an entry is the user's own: mapped to an address other than the ones block lists and
// the loopback use (0.0.0.0, 127.0.0.1, ::, ::1), and not one of the lines every system writes
// (127.0.1.1 and the machine's name, ff02::1 ip6-allnodes and the other IPv6 multicast names).
bool IsOwnEntry(std::string_view address, std::string_view name);

// The most entries of the user's own that are kept track of; more are not read.
inline constexpr std::size_t kMaxOwnEntries = 10000;

// The user's own entries of a hosts file, in file order, each once.
struct OwnEntries {
  std::vector<HostEntry> entries;
  bool has_start_marker = false;  // the program wrote the file
  platform::ReadStatus status = platform::ReadStatus::kOk;
};
// `to_start_marker`: reading stops at the first start marker, for a caller to whom a file the
// program wrote holds nothing at stake (the entries are then those of the lines before it).
OwnEntries ReadOwnEntries(const std::string& path, bool to_start_marker = false);

// The entries of `own` that no line of the file at `path` maps (names compared without regard
// to ASCII case); nullopt when the file cannot be read through.
std::optional<std::vector<HostEntry>> EntriesMissingFrom(const std::vector<HostEntry>& own,
                                                         const std::string& path);

// ---- What a new file changes, source by source -------------------------------------------

// The names a new hosts file adds to and takes away from a section of the installed one: the
// header (the lines before the first start marker, `source` empty) or a source between its
// markers. A source only one file has counts all its names.
struct SectionChange {
  std::string source;
  std::uint64_t added = 0;
  std::uint64_t removed = 0;
  std::vector<std::string> added_names;  // the first `listed` of each, in file order
  std::vector<std::string> removed_names;
};

// The sections whose names differ, in the new file's order, then those only the installed file
// has; nullopt when either file cannot be read through. Names are compared without regard to
// ASCII case, by a 64-bit hash: memory is 8 bytes a name, whatever the length of the lines.
std::optional<std::vector<SectionChange>> CompareSections(const std::string& new_path,
                                                          const std::string& installed_path,
                                                          std::size_t listed);

}  // namespace vellomar::install
