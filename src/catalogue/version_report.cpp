#include "catalogue/version_report.h"

#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace vellomar::catalogue {

bool IsReadableForReport(const std::string& path) {
  if (path.empty() || !platform::FileExists(path)) return false;
  std::error_code ec;
  const std::uintmax_t length = std::filesystem::file_size(path, ec);
  return !ec && length >= kMinReportBytes;
}

}  // namespace vellomar::catalogue
