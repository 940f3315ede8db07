// What every platform does alike, on top of its own primitives.
#include "platform/platform.h"

namespace vellomar::platform {

bool CanReadFile(const std::string& path) {
  ReadStatus status;
  return InputFile::Open(path, Links::kFollow, status).IsOpen();
}

ReadStatus ReadFileChecked(const std::string& path, std::string& out, Links links) {
  ReadStatus status;
  InputFile file = InputFile::Open(path, links, status);
  if (status != ReadStatus::kOk) {
    out.clear();
    return status;
  }
  return file.ReadAll(out);
}

bool ReadFileInto(const std::string& path, std::string& out) {
  return ReadFileChecked(path, out, Links::kFollow) == ReadStatus::kOk;
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
