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

// Names (no folder part) of the files in `folder` matching `pattern`, sorted without regard to
// case. Only ordinary files count (links are followed; folders, links to folders and hidden
// files are left out). A name holding a control character (below 0x20, or 0x7F) is left out:
// it would end up inside the marker lines of the merged file. nullopt when the folder cannot
// be read.
std::optional<std::vector<std::string>> ListSources(const std::string& folder,
                                                    std::string_view pattern = kSourcePattern);

}  // namespace vellomar::catalogue
