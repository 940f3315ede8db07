#pragma once
// Small text helpers over 8-bit text; all comparisons are by byte unless a name says otherwise.

#include <string>
#include <string_view>

namespace vellomar::support {

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// `text` with every occurrence of `from` replaced by `to`, scanning left to right.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Appends `text` to `out` with every `from` replaced by `to`.
void AppendReplacingAll(std::string& out, std::string_view text, std::string_view from,
                        std::string_view to);

// ASCII lower case; other bytes stay as they are.
std::string ToLowerAscii(std::string_view text);

// Case-insensitive (ASCII) less-than, for sorting file names.
bool LessIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vellomar::support
