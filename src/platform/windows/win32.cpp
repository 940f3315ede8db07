#include "platform/windows/win32.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace vellomar::platform::win32 {
namespace {

// One ReadFile or WriteFile moves at most a DWORD's worth; smaller pieces keep each call short.
constexpr std::size_t kPiece = std::size_t{64} << 20;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<std::wstring> Widen(std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int wide_size =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (wide_size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                            wide_size) != wide_size) {
    return std::nullopt;
  }
  return wide;
}

std::optional<std::string> Narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(text.size());
  // A UTF-8 ANSI code page takes neither the best-fit flag nor the default-character test; it
  // refuses what it cannot encode by itself.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* const check = utf8 ? nullptr : &used_default;
  const int narrow_size =
      ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, check);
  if (narrow_size <= 0 || used_default) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(narrow_size), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, text.data(), size, narrow.data(), narrow_size, nullptr,
                            check) != narrow_size ||
      used_default) {
    return std::nullopt;
  }
  return narrow;
}

std::optional<std::wstring> WidenUtf8(std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int wide_size =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (wide_size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wide_size);
  return wide;
}

std::string NarrowUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX) / 3) return {};
  const int size = static_cast<int>(text.size());
  std::string narrow(text.size() * 3, '\0');
  const int narrow_size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(),
                                                static_cast<int>(narrow.size()), nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(std::max(narrow_size, 0)));
  return narrow;
}

std::optional<std::string> NarrowPath(const std::wstring& path) {
  if (auto narrow = Narrow(path)) return narrow;
  std::vector<wchar_t> short_path(path.size() + 1);
  const DWORD size =
      ::GetShortPathNameW(path.c_str(), short_path.data(), static_cast<DWORD>(short_path.size()));
  if (size == 0 || size >= short_path.size()) return std::nullopt;
  return Narrow(std::wstring_view(short_path.data(), size));
}

std::optional<std::wstring> FilePath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  auto wide = Widen(path);
  if (!wide || wide->size() < kLongPath) return wide;
  if (StartsWith(*wide, L"\\\\?\\") || StartsWith(*wide, L"\\\\.\\")) return wide;
  // The prefixed form takes the path literally: it must be full, with backslashes only and
  // without "." or ".." parts, which GetFullPathNameW sees to.
  DWORD size = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::nullopt;
  std::wstring full(size, L'\0');
  size = ::GetFullPathNameW(wide->c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return std::nullopt;
  full.resize(size);
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string Environment(const wchar_t* name) {
  std::vector<wchar_t> value(MAX_PATH);
  DWORD size = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (size >= value.size()) {
    value.resize(size);
    size = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  if (size == 0 || size >= value.size()) return {};
  return Narrow(std::wstring_view(value.data(), size)).value_or(std::string());
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD want = static_cast<DWORD>(std::min(bytes.size(), kPiece));
    DWORD done = 0;
    if (!::WriteFile(file, bytes.data(), want, &done, nullptr) || done == 0) return false;
    bytes.remove_prefix(done);
  }
  return true;
}

bool ReadExactly(HANDLE file, char* to, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(std::min(size - done, kPiece));
    DWORD got = 0;
    if (!::ReadFile(file, to + done, want, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

}  // namespace vellomar::platform::win32
