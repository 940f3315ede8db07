// The DNS cache report builder over any capture text, under both line ends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dns/report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using vellomar::support::LineEnd;
  for (const LineEnd line_end : {LineEnd::kCrLf, LineEnd::kLf}) {
    const std::string report = vellomar::dns::BuildReport(text, line_end);
    if (text.empty() && !report.empty()) __builtin_trap();
  }
  return 0;
}
