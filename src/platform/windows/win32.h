#pragma once
// What the Windows implementation files share: the Win32 headers, the conversion of the
// program's 8-bit names to the system's wide names, and handles that close themselves.
// Private to src/platform/windows.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vellomar::platform::win32 {

// Paths this long or longer are given to the system with the "\\?\" prefix, which lifts the
// MAX_PATH limit of the file functions. 248 rather than 260: folders must leave room for an
// 8.3 name.
inline constexpr std::size_t kLongPath = 248;

// The 8-bit text as wide text, read in the ANSI code page (as every "A" function of the system
// reads it). nullopt for bytes that are no character there (a broken double-byte sequence).
std::optional<std::wstring> Widen(std::string_view text);

// The wide text in the ANSI code page; nullopt when a character has no exact equivalent there,
// so that a name is never changed into another one by a best-fit mapping.
std::optional<std::string> Narrow(std::wstring_view text);

// UTF-8 text as wide text, for what is UTF-8 whatever the code page (web addresses, HTTP
// headers); nullopt for bytes that are not UTF-8.
std::optional<std::wstring> WidenUtf8(std::string_view text);

// The wide text as UTF-8; a lone surrogate becomes U+FFFD.
std::string NarrowUtf8(std::wstring_view text);

// A path from the system as 8-bit text: Narrow, or where that fails its short (8.3) form,
// which the ANSI code page can spell; nullopt where the volume keeps no short names.
std::optional<std::string> NarrowPath(const std::wstring& path);

// The path as the wide file functions take it: Widen, and for a long path the full path with
// the "\\?\" (or "\\?\UNC\") prefix. nullopt for an empty path or one that does not convert.
std::optional<std::wstring> FilePath(const std::string& path);

// The value of an environment variable as 8-bit text; empty when unset or not convertible.
std::string Environment(const wchar_t* name);

// A kernel handle that is closed when it goes away.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : handle_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // Closes the handle; false when the system reported an error on closing.
  bool Reset() {
    const bool ok = !valid() || ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Writes all of `bytes` at the handle's position; false on any failed or short write.
bool WriteAll(HANDLE file, std::string_view bytes);

// Reads exactly `size` bytes at the handle's position; false when the file ends first or a
// read fails.
bool ReadExactly(HANDLE file, char* to, std::size_t size);

}  // namespace vellomar::platform::win32
