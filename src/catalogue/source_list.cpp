#include "catalogue/source_list.h"

#include <algorithm>

#include "merge/markers.h"
#include "platform/platform.h"
#include "support/text.h"

namespace vellomar::catalogue {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Control bytes in a name would travel into the marker lines of the merged file, where a line
// break could smuggle in an entry of its own.
bool HoldsControlCharacter(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// Case-insensitive order, with byte order deciding between names that differ only in case, so
// that the listing does not depend on the order the folder gives them in.
bool ListOrder(const std::string& a, const std::string& b) {
  if (support::LessIgnoringCase(a, b)) return true;
  if (support::LessIgnoringCase(b, a)) return false;
  return a < b;
}

}  // namespace

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  // Greedy matching that goes back to the last '*' on a mismatch: each '*' only ever has to
  // take one more character, so the work stays proportional to name and pattern lengths.
  constexpr auto kNone = std::string_view::npos;
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t star = kNone;
  std::size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star != kNone) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Exclusion WhyNotListed(const std::string& folder, const std::string& name,
                       std::string_view pattern) {
  if (!MatchesPattern(name, pattern)) return Exclusion::kNotASourceName;
  if (HoldsControlCharacter(name)) return Exclusion::kControlCharacter;
  // The existence test also leaves out folders, links to folders, dangling links and hidden
  // files, as the file list of the window does.
  if (!platform::FileExists(platform::JoinPath(folder, name))) return Exclusion::kNotAFile;
  if (!merge::MarkerCanHold(name)) return Exclusion::kMarkerCannotHold;
  return Exclusion::kNone;
}

std::optional<Listing> ListSources(const std::string& folder, std::string_view pattern) {
  // Listed through the platform layer, which spells names as its file functions take them
  // back (on Windows, in the ANSI code page).
  auto listed = platform::ListFolder(folder);
  if (!listed) return std::nullopt;
  std::sort(listed->begin(), listed->end(), ListOrder);
  Listing listing;
  for (std::string& name : *listed) {
    switch (WhyNotListed(folder, name, pattern)) {
      case Exclusion::kNone:
        listing.names.push_back(std::move(name));
        break;
      case Exclusion::kMarkerCannotHold:
        listing.unmergeable.push_back(std::move(name));
        break;
      default:
        break;
    }
  }
  return listing;
}

}  // namespace vellomar::catalogue
