#pragma once
// Line ends of text files. kCrLf splits at CR LF pairs only (a bare CR or LF is text);
// kLf splits at LF, and a CR right before the LF belongs to the line end.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar::support {

enum class LineEnd { kCrLf, kLf };

// The line end of the platform the program runs on.
LineEnd NativeLineEnd();

// The bytes written at the end of a line: "\r\n" or "\n".
std::string_view LineEndText(LineEnd line_end);

// Calls fn(line) for every line of `text`, without the line end. Empty text has no lines;
// text that ends in a line end has a final empty line. Stops early when fn returns false.
template <typename Fn>
void ForEachLine(std::string_view text, LineEnd line_end, Fn&& fn) {
  if (text.empty()) return;
  std::size_t start = 0;
  while (true) {
    std::size_t end;
    std::size_t next;
    if (line_end == LineEnd::kLf) {
      end = text.find('\n', start);
      if (end == std::string_view::npos) break;
      next = end + 1;
      if (end > start && text[end - 1] == '\r') --end;
    } else {
      end = text.find("\r\n", start);
      if (end == std::string_view::npos) break;
      next = end + 2;
    }
    if (!fn(text.substr(start, end - start))) return;
    start = next;
  }
  fn(text.substr(start));
}

}  // namespace vellomar::support
