#include "support/line_end.h"

#include <cstring>

#include "platform/platform.h"

namespace vellomar::support {

LineEnd NativeLineEnd() {
  return platform::NativeOsFamily() == platform::OsFamily::kWindows ? LineEnd::kCrLf : LineEnd::kLf;
}

std::string_view LineEndText(LineEnd line_end) {
  return line_end == LineEnd::kCrLf ? std::string_view("\r\n") : std::string_view("\n");
}

std::vector<std::string_view> SplitLines(std::string_view text, LineEnd line_end) {
  std::vector<std::string_view> lines;
  ForEachLine(text, line_end, [&](std::string_view line) {
    lines.push_back(line);
    return true;
  });
  return lines;
}

std::uint64_t CountLines(std::string_view text, LineEnd line_end) {
  if (text.empty()) return 0;
  std::uint64_t count = 1;
  const char* p = text.data();
  const char* const end = p + text.size();
  // memchr runs at memory speed; this is what keeps a summary of a large file cheap.
  while (p < end) {
    const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (hit == nullptr) break;
    const char* lf = static_cast<const char*>(hit);
    if (line_end == LineEnd::kLf || (lf > text.data() && lf[-1] == '\r')) ++count;
    p = lf + 1;
  }
  return count;
}

}  // namespace vellomar::support
