// The test helpers on Windows, which has no file size limit per process and no fork.
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "common/test_util.h"
// clang-format off
#include "common/windows_test_util.h"  // <windows.h>, which <winioctl.h> needs first
#include <winioctl.h>
// clang-format on

namespace vellomar::testing {

bool LimitFileSize(std::uint64_t /*bytes*/) { return false; }

void MakeSparseFile(const std::string& path, std::uint64_t size) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD unused = 0;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  // Where the file system keeps no sparse files the length is set all the same.
  const bool ok =
      file != INVALID_HANDLE_VALUE &&
      (::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr) ||
       true) &&
      ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  if (!ok) ADD_FAILURE() << "cannot make sparse file " << path;
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

// No fork: the step runs on a thread of its own, given up (not ended) when its time is up.
bool RunInChild(const std::function<bool()>& step, bool as_nobody, unsigned seconds) {
  if (as_nobody) {
    ADD_FAILURE() << "no other user to run as on Windows";
    return false;
  }
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> result = done->get_future();
  std::thread([step, done] { done->set_value(step()); }).detach();
  return result.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready &&
         result.get();
}

std::string PlaceProbe(const std::string& folder, const std::string& stem) {
  const std::string path = folder + "\\" + stem + ".exe";
  char full[MAX_PATH];
  if (::GetFullPathNameA(VELLOMAR_PROBE, MAX_PATH, full, nullptr) == 0 ||
      !::CopyFileA(full, path.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy the probe to " << path;
  }
  return path;
}

void WriteScript(const std::string& path, const std::string& bytes) { WriteFile(path, bytes); }

}  // namespace vellomar::testing
