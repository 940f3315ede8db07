// The hosts header reader over any bytes, under both line ends: no crash, no undefined
// behaviour, and what it reports holds together.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/header_reader.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using vellomar::support::LineEnd;
  for (const LineEnd line_end : {LineEnd::kCrLf, LineEnd::kLf}) {
    const auto report = vellomar::catalogue::ReadHeader(text, line_end);
    // Every version line is a dated line of the text, and reading stops after the fourth.
    std::size_t lines = 0;
    vellomar::support::ForEachLine(report.version_text, line_end, [&](std::string_view line) {
      if (!line.empty() && !vellomar::support::Contains(text, line)) __builtin_trap();
      if (!line.empty()) ++lines;
      return true;
    });
    if (lines > 4) __builtin_trap();
    for (const auto& name : report.source_names) {
      if (name.empty() || vellomar::support::Contains(name, ",")) __builtin_trap();
    }
  }
  return 0;
}
