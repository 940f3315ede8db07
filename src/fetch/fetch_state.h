#pragma once
// The fetch state: for each list, the validators of its last good reply (ETag, Last-Modified)
// and the address they came from, so that the next fetch asks only for a changed list. One small
// file in the program folder, replaced whole or not at all.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace vellomar::fetch {

inline constexpr std::string_view kFetchStateName = "Fetched.txt";
inline constexpr std::size_t kMaxFetchStateBytes = std::size_t{1} << 20;

struct Validators {
  std::string url;  // the address they belong to: another address drops them
  std::string etag;
  std::string last_modified;
  bool operator==(const Validators&) const = default;
};

// By list name ("H_Name.txt").
using FetchState = std::map<std::string, Validators>;

// The state in `bytes`: one line for each list, its name, address, ETag and Last-Modified
// separated by tabs; '#' starts a comment line. Any line that is not so makes the whole state
// empty, so that every list is then fetched whole.
FetchState ParseFetchState(std::string_view bytes);
// The bytes ParseFetchState gives `state` back from; a list whose values hold a control
// character is left out.
std::string FormatFetchState(const FetchState& state);

// The state kept at `path`: empty when the file is missing, unreadable, larger than
// kMaxFetchStateBytes or damaged.
FetchState LoadFetchState(const std::string& path);
// Replaces the file at `path` with `state`, whole or not at all; false when it was not.
[[nodiscard]] bool SaveFetchState(const std::string& path, const FetchState& state);

}  // namespace vellomar::fetch
