#pragma once
// The source catalogue's file listing.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar::catalogue {

inline constexpr std::string_view kSourcePattern = "H_*.txt";
inline constexpr std::string_view kSourceFolderName = "Hostfiles";

// True when `name` matches `pattern`, where '*' stands for any run of characters and '?' for
// one; ASCII letters match without regard to case.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Why a name in the source folder is not a source entry.
enum class Exclusion {
  kNone,              // it is one
  kNotASourceName,    // not named like a source (H_*.txt)
  kControlCharacter,  // a byte below 0x20 or 0x7F: it would end up inside the marker lines
  kMarkerCannotHold,  // "," or " entries]": a start marker could not give the name back whole
  kNotAFile,          // hidden, a folder, a link to one, a dangling link: no ordinary file
};

// The rule for one name in `folder`: whether it is a source entry, and if not, why.
Exclusion WhyNotListed(const std::string& folder, const std::string& name,
                       std::string_view pattern = kSourcePattern);

struct Listing {
  // The source entries, sorted without regard to case (bytes deciding between names that
  // differ only in case).
  std::vector<std::string> names;
  // Files named like sources that a start marker could not hold, in the same order: left out,
  // as the next start-up could not tick them again.
  std::vector<std::string> unmergeable;
};

// The source entries of `folder` by WhyNotListed; nullopt when the folder cannot be read.
std::optional<Listing> ListSources(const std::string& folder,
                                   std::string_view pattern = kSourcePattern);

}  // namespace vellomar::catalogue
