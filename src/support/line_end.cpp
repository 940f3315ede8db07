#include "support/line_end.h"

#include "platform/platform.h"

namespace vellomar::support {

LineEnd NativeLineEnd() {
  return platform::NativeOsFamily() == platform::OsFamily::kWindows ? LineEnd::kCrLf : LineEnd::kLf;
}

std::string_view LineEndText(LineEnd line_end) {
  return line_end == LineEnd::kCrLf ? std::string_view("\r\n") : std::string_view("\n");
}

}  // namespace vellomar::support
