#include "catalogue/version_report.h"

#include "platform/platform.h"
#include "support/file_reader.h"

namespace vellomar::catalogue {

bool IsReadableForReport(const std::string& path) {
  if (path.empty() || !platform::FileExists(path)) return false;
  platform::ReadStatus status;
  const platform::InputFile file = support::OpenForReading(path, {}, status);
  return status == platform::ReadStatus::kOk && file.Facts().size >= kMinReportBytes;
}

}  // namespace vellomar::catalogue
