#pragma once
// What the Windows tests share: <windows.h> without its min/max macros, and a file held open
// as another program would hold it.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>
#undef DeleteFile  // the macro would rename platform::DeleteFile

#include <string>

namespace vellomar::testing {

inline DWORD AttributesOf(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

// A handle on a file with the access another program asked for and what it lets others do
// meanwhile. Sharing rules hold per handle, so a handle of this process stands for that program.
class Holder {
 public:
  Holder(const std::string& path, DWORD access, DWORD share)
      : handle_(::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << path;
  }
  ~Holder() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace vellomar::testing
