#include "export/name_query.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "catalogue/source_list.h"
#include "export/allow_list.h"
#include "install/entries.h"
#include "merge/address_mode.h"
#include "support/text.h"

namespace vellomar::exports {
namespace {

constexpr std::size_t kMaxHostName = 253;
constexpr std::size_t kMaxLine = std::size_t{64} << 10;
constexpr std::string_view kBlanks = " \t\r\f\v";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

bool SameName(std::string_view written, std::string_view name) {
  while (!written.empty() && written.back() == '.') written.remove_suffix(1);
  return written.size() == name.size() &&
         std::equal(written.begin(), written.end(), name.begin(),
                    [](char a, char b) { return LowerAscii(a) == b; });
}

// Finds the lines that map one name in pieces of a file, in order. The complete lines of a
// piece are searched for the name's bytes (in lower case) and only a line that holds them is
// split; the line a piece ends inside is kept until its end comes, up to kMaxLine bytes.
class NameScanner {
 public:
  explicit NameScanner(std::string_view name)
      : name_(name), searcher_(name_.begin(), name_.end()) {}

  void Feed(std::string_view piece, std::vector<NameLine>& lines) {
    std::size_t start = 0;
    if (!pending_.empty() || cut_) {
      const std::size_t end = piece.find('\n');
      Keep(piece.substr(0, end));
      if (end == std::string_view::npos) return;
      EndPending(lines);
      start = end + 1;
    }
    const std::size_t last = piece.rfind('\n');
    if (last != std::string_view::npos && last >= start) {
      Search(piece.substr(start, last + 1 - start), lines);
      start = last + 1;
    }
    Keep(piece.substr(start));
  }

  // The last line, when the file does not end in a line break.
  void Finish(std::vector<NameLine>& lines) {
    if (!pending_.empty() || cut_) EndPending(lines);
  }

 private:
  // Complete lines, each ending in LF.
  void Search(std::string_view region, std::vector<NameLine>& lines) {
    lower_.resize(region.size());
    std::transform(region.begin(), region.end(), lower_.begin(), LowerAscii);
    const std::string_view lower = lower_;
    std::size_t counted = 0;
    for (std::size_t from = 0; from < lower.size();) {
      const auto hit =
          std::search(lower.begin() + static_cast<std::ptrdiff_t>(from), lower.end(), searcher_);
      if (hit == lower.end()) break;
      const auto at = static_cast<std::size_t>(hit - lower.begin());
      const std::size_t line_start = at == 0 ? 0 : lower.rfind('\n', at - 1) + 1;
      const std::size_t line_end = lower.find('\n', at);
      line_count_ += static_cast<std::uint64_t>(
          std::count(region.begin() + static_cast<std::ptrdiff_t>(counted),
                     region.begin() + static_cast<std::ptrdiff_t>(line_start), '\n'));
      counted = line_start;
      const std::string_view line = region.substr(line_start, line_end - line_start);
      Judge(line, line_count_ + 1, line.size() > kMaxLine, lines);
      from = line_end + 1;
    }
    line_count_ += static_cast<std::uint64_t>(
        std::count(region.begin() + static_cast<std::ptrdiff_t>(counted), region.end(), '\n'));
  }

  void Keep(std::string_view part) {
    const std::size_t room = kMaxLine - pending_.size();
    if (part.size() > room) cut_ = true;
    pending_.append(part.substr(0, std::min(room, part.size())));
  }

  void EndPending(std::vector<NameLine>& lines) {
    Judge(pending_, line_count_ + 1, cut_, lines);
    ++line_count_;
    pending_.clear();
    cut_ = false;
  }

  // A line longer than kMaxLine (`cut`) is judged by its first kMaxLine bytes, up to the blank
  // before the name that the cut went through, wherever the pieces ended.
  void Judge(std::string_view line, std::uint64_t number, bool cut,
             std::vector<NameLine>& lines) const {
    if (cut) {
      line = line.substr(0, kMaxLine);
      line = line.substr(0, std::min(line.size(), line.find_last_of(kBlanks) + 1));
    }
    const auto parsed = install::ParseHostsLine(line);
    if (!parsed) return;
    for (const std::string_view written : parsed->names) {
      if (!SameName(written, name_)) continue;
      lines.push_back({number, std::string(parsed->address), std::string(written),
                       merge::IsBlockAddress(parsed->address)});
      return;
    }
  }

  std::string name_;
  std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher_;
  std::string lower_;
  std::string pending_;
  bool cut_ = false;  // the pending line was longer than kMaxLine
  std::uint64_t line_count_ = 0;
};

// Adds the lines of one file to `query`, or notes why it could not be read.
void QueryFile(const std::string& path, const std::string& shown, bool hosts_file,
               const support::ReadOptions& options, std::span<char> chunk, NameQuery& query) {
  platform::ReadStatus status = platform::ReadStatus::kOk;
  platform::InputFile file = support::OpenForReading(path, options, status);
  std::vector<NameLine> lines;
  if (status == platform::ReadStatus::kOk) {
    status = FindNameInFile(file, options, query.name, chunk, lines);
  }
  if (status != platform::ReadStatus::kOk) {
    query.unread.push_back({shown, hosts_file, status});
    return;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < kMaxNamePlaces) {
      query.places.push_back({shown, hosts_file, std::move(lines[i])});
    } else {
      ++query.more_places;
    }
  }
}

}  // namespace

bool NameQuery::InHostsFile() const {
  return std::any_of(places.begin(), places.end(),
                     [](const NamePlace& place) { return place.hosts_file; });
}

bool NameQuery::InSources() const {
  return std::any_of(places.begin(), places.end(),
                     [](const NamePlace& place) { return !place.hosts_file; });
}

std::optional<std::string> QueryableName(std::string_view name) {
  while (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.size() > kMaxHostName) return std::nullopt;
  const bool fits = std::all_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7F && c != '#';
  });
  if (!fits) return std::nullopt;
  return support::ToLowerAscii(name);
}

platform::ReadStatus FindNameInFile(platform::InputFile& file, const support::ReadOptions& options,
                                    std::string_view name, std::span<char> chunk,
                                    std::vector<NameLine>& lines) {
  NameScanner scanner(name);
  std::vector<NameLine> found;
  const platform::ReadStatus status = support::ReadInChunks(
      file, options, chunk, [&](std::string_view piece) { scanner.Feed(piece, found); });
  if (status != platform::ReadStatus::kOk) return status;
  scanner.Finish(found);
  lines.insert(lines.end(), std::make_move_iterator(found.begin()),
               std::make_move_iterator(found.end()));
  return status;
}

NameQuery QueryName(const std::string& source_folder, const std::string& hosts_path,
                    const std::string& name, std::size_t chunk_bytes) {
  NameQuery query;
  query.name = name;
  support::BlockBuffer buffer(std::max<std::size_t>(chunk_bytes, 1));
  const std::span<char> chunk(buffer.data(), buffer.size());
  if (const auto listing = catalogue::ListSources(source_folder)) {
    const support::ReadOptions options = support::SourceReadOptions(source_folder);
    for (const std::string& source : listing->names) {
      QueryFile(platform::JoinPath(source_folder, source), source, false, options, chunk, query);
    }
  } else {
    query.unread.push_back({source_folder, false, platform::ReadStatus::kMissing});
  }
  if (!hosts_path.empty()) {
    support::ReadOptions options;
    options.hosts_text = true;
    QueryFile(hosts_path, hosts_path, true, options, chunk, query);
  }
  query.allowed = AllowList::Load(source_folder, query.allow_status).Allows(name);
  return query;
}

}  // namespace vellomar::exports
