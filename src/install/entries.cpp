#include "install/entries.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "merge/address_mode.h"
#include "merge/markers.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::install {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::uint64_t NameHash(std::string_view name) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// The source a marker line opens (`opens`) or closes; nullopt for any other line.
std::optional<std::string_view> MarkerName(std::string_view line, std::string_view marker) {
  const auto at = line.find(marker);
  if (at == std::string_view::npos || line.find_first_not_of(' ') != at) return std::nullopt;
  std::string_view rest = line.substr(at + marker.size());
  return rest.substr(0, rest.find(merge::kMarkerEnd));
}

// Calls fn(line) for each whole line of the file at `path`; false when it cannot be read
// through. A line longer than the reader's cap is no hosts line and is passed over.
template <typename Fn>
bool ForEachFileLine(const std::string& path, platform::ReadStatus& status, Fn&& fn) {
  platform::InputFile file = support::OpenForReading(path, {}, status);
  if (status != platform::ReadStatus::kOk) return false;
  support::LineReader reader(file);
  while (true) {
    const auto line = reader.Next();
    if (!line) {
      status = reader.status();
      return false;
    }
    if (line->empty()) return true;
    if (reader.Whole() && !fn(*line)) return true;
  }
}

// Calls fn(section, line) for each line inside the header or a source block.
template <typename Fn>
bool ForEachSectionLine(const std::string& path, Fn&& fn) {
  platform::ReadStatus status;
  std::optional<std::string> section = std::string();
  return ForEachFileLine(path, status, [&](std::string_view line) {
    if (const auto opens = MarkerName(line, merge::kStartMarker)) {
      section = std::string(*opens);
    } else if (MarkerName(line, merge::kEndMarker)) {
      section.reset();  // the separator after a source belongs to none
    } else if (section) {
      fn(*section, line);
    }
    return true;
  });
}

using HashSets = std::map<std::string, std::vector<std::uint64_t>>;

std::optional<HashSets> SectionHashes(const std::string& path, std::vector<std::string>& order) {
  HashSets sets;
  const bool read =
      ForEachSectionLine(path, [&](const std::string& section, std::string_view line) {
        const auto parsed = ParseHostsLine(line);
        if (!parsed) return;
        auto [it, inserted] = sets.try_emplace(section);
        if (inserted) order.push_back(section);
        for (const auto name : parsed->names) it->second.push_back(NameHash(name));
      });
  if (!read) return std::nullopt;
  for (auto& [section, hashes] : sets) {
    std::sort(hashes.begin(), hashes.end());
    hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
  }
  return sets;
}

// Lists, for each section, the first `listed` names of the file whose hash `wanted` holds.
bool ListNames(const std::string& path, const HashSets& wanted, std::size_t listed,
               std::map<std::string, std::vector<std::string>>& names) {
  std::map<std::string, std::vector<std::uint64_t>> seen;
  return ForEachSectionLine(path, [&](const std::string& section, std::string_view line) {
    const auto set = wanted.find(section);
    if (set == wanted.end()) return;
    const auto parsed = ParseHostsLine(line);
    if (!parsed) return;
    auto& list = names[section];
    auto& hashes = seen[section];
    for (const auto name : parsed->names) {
      const std::uint64_t hash = NameHash(name);
      if (list.size() >= listed ||
          !std::binary_search(set->second.begin(), set->second.end(), hash) ||
          std::find(hashes.begin(), hashes.end(), hash) != hashes.end()) {
        continue;
      }
      hashes.push_back(hash);
      list.emplace_back(name);
    }
  });
}

std::vector<std::uint64_t> Difference(const std::vector<std::uint64_t>& a,
                                      const std::vector<std::uint64_t>& b) {
  std::vector<std::uint64_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

}  // namespace

std::optional<HostsLine> ParseHostsLine(std::string_view line) {
  line = line.substr(0, line.find('#'));
  const std::size_t start = line.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return std::nullopt;
  std::size_t end = std::min(line.find_first_of(kBlanks, start), line.size());
  HostsLine parsed{line.substr(start, end - start), {}};
  // A lone ":" is no address.
  if (parsed.address.size() < 2 || !merge::LooksLikeAddress(parsed.address)) return std::nullopt;
  for (std::size_t name = line.find_first_not_of(kBlanks, end); name != std::string_view::npos;
       name = line.find_first_not_of(kBlanks, end)) {
    end = std::min(line.find_first_of(kBlanks, name), line.size());
    parsed.names.push_back(line.substr(name, end - name));
  }
  return parsed;
}

bool IsOwnEntry(std::string_view address, std::string_view name) {
  const std::string lower = support::ToLowerAscii(address);
  static constexpr std::array<std::string_view, 5> kNotOwn = {"0.0.0.0", "127.0.0.1", "::", "::1",
                                                              "127.0.1.1"};
  if (std::find(kNotOwn.begin(), kNotOwn.end(), lower) != kNotOwn.end()) return false;
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kSystemLines = {
      {{"fe00::0", "ip6-localnet"},
       {"ff00::0", "ip6-mcastprefix"},
       {"ff02::1", "ip6-allnodes"},
       {"ff02::2", "ip6-allrouters"},
       {"ff02::3", "ip6-allhosts"}}};
  const std::string lower_name = support::ToLowerAscii(name);
  return std::find(kSystemLines.begin(), kSystemLines.end(),
                   std::pair<std::string_view, std::string_view>(lower, lower_name)) ==
         kSystemLines.end();
}

OwnEntries ReadOwnEntries(const std::string& path, bool to_start_marker) {
  OwnEntries own;
  std::unordered_set<std::string> seen;
  ForEachFileLine(path, own.status, [&](std::string_view line) {
    if (support::Contains(line, merge::kStartMarker)) {
      own.has_start_marker = true;
      if (to_start_marker) return false;
    }
    const auto parsed = ParseHostsLine(line);
    if (!parsed) return true;
    for (const auto name : parsed->names) {
      if (!IsOwnEntry(parsed->address, name)) continue;
      if (own.entries.size() >= kMaxOwnEntries) return false;
      HostEntry entry{std::string(parsed->address), std::string(name)};
      if (seen.insert(support::ToLowerAscii(entry.address + " " + entry.name)).second) {
        own.entries.push_back(std::move(entry));
      }
    }
    return true;
  });
  return own;
}

std::optional<std::vector<HostEntry>> EntriesMissingFrom(const std::vector<HostEntry>& own,
                                                         const std::string& path) {
  // Each name of the user's, with the entries that give it an address.
  std::unordered_map<std::string, std::vector<std::size_t>> by_name;
  for (std::size_t i = 0; i < own.size(); ++i) {
    by_name[support::ToLowerAscii(own[i].name)].push_back(i);
  }
  std::vector<bool> found(own.size(), false);
  platform::ReadStatus status;
  const bool read = ForEachFileLine(path, status, [&](std::string_view line) {
    const auto parsed = ParseHostsLine(line);
    if (!parsed) return true;
    const std::string address = support::ToLowerAscii(parsed->address);
    for (const auto name : parsed->names) {
      const auto it = by_name.find(support::ToLowerAscii(name));
      if (it == by_name.end()) continue;
      for (const std::size_t i : it->second) {
        if (support::ToLowerAscii(own[i].address) == address) found[i] = true;
      }
    }
    return true;
  });
  if (!read) return std::nullopt;
  std::vector<HostEntry> missing;
  for (std::size_t i = 0; i < own.size(); ++i) {
    if (!found[i]) missing.push_back(own[i]);
  }
  return missing;
}

std::optional<std::vector<SectionChange>> CompareSections(const std::string& new_path,
                                                          const std::string& installed_path,
                                                          std::size_t listed) {
  std::vector<std::string> new_order;
  std::vector<std::string> installed_order;
  const auto installed = SectionHashes(installed_path, installed_order);
  const auto fresh = SectionHashes(new_path, new_order);
  if (!installed || !fresh) return std::nullopt;
  static const std::vector<std::uint64_t> kNone;
  const auto of = [](const HashSets& sets,
                     const std::string& section) -> const std::vector<std::uint64_t>& {
    const auto it = sets.find(section);
    return it == sets.end() ? kNone : it->second;
  };
  HashSets added;
  HashSets removed;
  std::vector<std::string> order = new_order;
  for (const auto& section : installed_order) {
    if (!fresh->contains(section)) order.push_back(section);
  }
  for (const auto& section : order) {
    added[section] = Difference(of(*fresh, section), of(*installed, section));
    removed[section] = Difference(of(*installed, section), of(*fresh, section));
  }
  std::map<std::string, std::vector<std::string>> added_names;
  std::map<std::string, std::vector<std::string>> removed_names;
  if (!ListNames(new_path, added, listed, added_names) ||
      !ListNames(installed_path, removed, listed, removed_names)) {
    return std::nullopt;
  }
  std::vector<SectionChange> changes;
  for (const auto& section : order) {
    if (added[section].empty() && removed[section].empty()) continue;
    changes.push_back({section, added[section].size(), removed[section].size(),
                       std::move(added_names[section]), std::move(removed_names[section])});
  }
  return changes;
}

}  // namespace vellomar::install
