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

std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path) {
  LockResult result = TakeInstanceLock(program_path);
  switch (result.kind) {
    case LockResult::Kind::kTaken:
      return std::move(result.lock);
    case LockResult::Kind::kHeldByOther:
      return nullptr;
    case LockResult::Kind::kUnavailable:
      break;
  }
  // A lock that cannot be had must not keep the program from running at all.
  return std::make_unique<InstanceLock>();
}

}  // namespace vellomar::platform
