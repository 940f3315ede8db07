#pragma once
// Who blocks a name: every line of the sources and of the installed hosts file that maps it, and
// whether the allowlist frees it. Files are read a piece at a time through the checked reader;
// a line is split only when the name's bytes occur in it, so a query over a million-line source
// costs little more than reading it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/file_reader.h"

namespace vellomar::exports {

// One line that maps the name.
struct NameLine {
  std::uint64_t line = 0;  // 1-based
  std::string address;     // as written
  std::string name;        // the name as the line writes it
  bool blocks = false;     // the address is 0.0.0.0, 127.0.0.1, :: or ::1
  bool operator==(const NameLine&) const = default;
};

// A line of a source or of the hosts file that maps the name.
struct NamePlace {
  std::string file;  // a source entry's name, or the hosts file's path
  bool hosts_file = false;
  NameLine at;
};

// A file the query could not read through, and why; what it maps is not known.
struct UnreadFile {
  std::string file;  // a source entry's name, the hosts file's path, or the source folder
  bool hosts_file = false;
  platform::ReadStatus why = platform::ReadStatus::kUnreadable;
};

// The most places a query keeps of one file; any more are only counted.
inline constexpr std::size_t kMaxNamePlaces = 1000;

struct NameQuery {
  std::string name;                // as looked for: lower case, no trailing dot
  std::vector<NamePlace> places;   // the sources in list order, then the hosts file
  std::uint64_t more_places = 0;   // places past kMaxNamePlaces, not kept
  std::vector<UnreadFile> unread;  // the source folder, a source or the hosts file
  bool allowed = false;            // allow.txt frees the name
  platform::ReadStatus allow_status = platform::ReadStatus::kOk;

  bool Mapped() const { return !places.empty(); }
  bool InHostsFile() const;
  bool InSources() const;
};

// The name as a query looks for it (ASCII lower case, trailing dots dropped), or nullopt when
// `name` is no name a hosts line can hold: empty, longer than 253 bytes, or with a blank, a
// control byte or a "#".
std::optional<std::string> QueryableName(std::string_view name);

// The lines of the open `file` (opened with `options`) whose names include `name` (as
// QueryableName gives it), in file order, read a piece of `chunk` at a time. Lines end at LF (a
// CR before it is a blank); a line longer than 64 KiB is judged by its first 64 KiB. kOk when
// the file was read through; otherwise why not, and `lines` is left as it was.
[[nodiscard]] platform::ReadStatus FindNameInFile(platform::InputFile& file,
                                                  const support::ReadOptions& options,
                                                  std::string_view name, std::span<char> chunk,
                                                  std::vector<NameLine>& lines);

// Every place that maps `name` (as QueryableName gives it): the sources of `source_folder` as
// the catalogue lists them, then the hosts file at `hosts_path` (none when empty), and whether
// the folder's allow.txt frees the name. Read `chunk_bytes` at a time.
NameQuery QueryName(const std::string& source_folder, const std::string& hosts_path,
                    const std::string& name, std::size_t chunk_bytes = support::kReadChunkBytes);

}  // namespace vellomar::exports
