#pragma once
// The DNS cache report: one line per cached record, a 45-character name column, then values.

#include <string>
#include <string_view>

#include "support/line_end.h"

namespace vellomar::dns {

inline constexpr std::size_t kNameColumnWidth = 45;

// Builds the report from a capture's text (finished markers already removed or not: they are
// removed here). Reads the labelled listing ("Record Name . . . . . :" ...) and the
// `resolvectl show-cache` listing. Report lines end in `line_end`; an empty capture gives
// empty text.
std::string BuildReport(std::string_view capture_text, support::LineEnd line_end);

}  // namespace vellomar::dns
