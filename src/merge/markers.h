#pragma once
// The marker lines that frame each source in a merged file: written by the merge writer and
// read back by the header reader, which ticks again the sources an installed file names.

#include <string_view>

namespace vellomar::merge {

// "# [Start of NAME entries]" and "# [End of NAME entries]"; a hosts file holding a start
// marker was merged here.
inline constexpr std::string_view kStartMarker = "# [Start of ";
inline constexpr std::string_view kEndMarker = "# [End of ";
inline constexpr std::string_view kMarkerEnd = " entries]";
// Written after each source's end marker.
inline constexpr std::string_view kSeparatorLine =
    "# *********************************************************#";
// The reader splits a start marker's text at ',' into names.
inline constexpr char kNameSeparator = ',';

// True when a start marker holding `name` gives it back whole: no ',' and no " entries]".
constexpr bool MarkerCanHold(std::string_view name) {
  return name.find(kNameSeparator) == std::string_view::npos &&
         name.find(kMarkerEnd) == std::string_view::npos;
}

}  // namespace vellomar::merge
