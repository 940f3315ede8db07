#pragma once
// Rules of the version report.

#include <cstdint>
#include <string>

namespace vellomar::catalogue {

inline constexpr std::uint64_t kMinReportBytes = 100;

// A file is readable for the report when the path is not empty, passes the existence test and
// holds at least kMinReportBytes bytes.
bool IsReadableForReport(const std::string& path);

}  // namespace vellomar::catalogue
