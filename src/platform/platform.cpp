// What every platform does alike, on top of its own primitives.
#include "platform/platform.h"

namespace vellomar::platform {

ReadStatus ReadFileWhole(const std::string& path, std::string& out) {
  ReadStatus status;
  InputFile file = InputFile::Open(path, Links::kRefuse, status);
  if (status != ReadStatus::kOk) {
    out.clear();
    return status;
  }
  return file.ReadAll(out);
}

}  // namespace vellomar::platform
