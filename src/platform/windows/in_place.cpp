// Rewriting a file in place on Windows, for a file that another process keeps from being
// replaced (held open without sharing its deletion).
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vellomar::platform {
namespace {

using win32::Handle;

std::optional<std::uint64_t> SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool SeekTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

// Writes `bytes` from the start of the file; returns how many bytes reached the file, which is
// all of them only on success.
std::size_t WriteFromStart(HANDLE file, std::string_view bytes) {
  if (!SeekTo(file, 0)) return 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, want, &written, nullptr) || written == 0) break;
    done += written;
  }
  return done;
}

// Reads exactly `length` bytes from the start of the file; nullopt on a failed or short read.
std::optional<std::string> ReadFromStart(HANDLE file, std::size_t length) {
  std::string bytes(length, '\0');
  if (!SeekTo(file, 0) || !win32::ReadExactly(file, bytes.data(), length)) return std::nullopt;
  return bytes;
}

bool HoldsExactly(HANDLE file, std::string_view bytes) {
  const auto size = SizeOf(file);
  if (!size || *size != bytes.size()) return false;
  const auto read_back = ReadFromStart(file, bytes.size());
  return read_back && *read_back == bytes;
}

// Cuts the file to `length` if it is longer.
bool CutTo(HANDLE file, std::size_t length) {
  const auto size = SizeOf(file);
  if (!size) return false;
  return *size <= length || (SeekTo(file, length) && ::SetEndOfFile(file) != 0);
}

// Every step is tried even when one before it failed: each byte put back is one less wrong.
InPlaceResult PutBack(HANDLE file, const std::string& old_bytes) {
  bool ok = WriteFromStart(file, old_bytes) == old_bytes.size();
  ok = CutTo(file, old_bytes.size()) && ok;
  ok = ::FlushFileBuffers(file) != 0 && ok;
  ok = HoldsExactly(file, old_bytes) && ok;
  return ok ? InPlaceResult::kKeptOld : InPlaceResult::kDamaged;
}

InPlaceResult Rewrite(HANDLE file, std::string_view bytes) {
  const auto size = SizeOf(file);
  if (!size) return InPlaceResult::kNotOpened;
  const auto old_bytes = ReadFromStart(file, static_cast<std::size_t>(*size));
  if (!old_bytes) return InPlaceResult::kKeptOld;

  // Reserve the clusters a longer file needs without moving its end, so that a full disk shows
  // up here, before anything is overwritten. (A smaller allocation would cut the file.)
  if (bytes.size() > *size) {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (!::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation) &&
        ::GetLastError() == ERROR_DISK_FULL) {
      return InPlaceResult::kKeptOld;
    }
  }

  const std::size_t written = WriteFromStart(file, bytes);
  if (written == 0 && !bytes.empty()) return InPlaceResult::kKeptOld;  // nothing overwritten
  if (written != bytes.size() || !CutTo(file, bytes.size()) || !::FlushFileBuffers(file) ||
      !HoldsExactly(file, bytes)) {
    return PutBack(file, *old_bytes);
  }
  return InPlaceResult::kRewritten;
}

}  // namespace

InPlaceResult RewriteInPlace(const std::string& path, std::string_view bytes) {
  const auto wide = win32::FilePath(path);
  if (!wide) return InPlaceResult::kNotOpened;
  // Sharing everything: the file is here because another process holds it open, and an open
  // that refused to share with that process would fail at once. A process that shares neither
  // reading nor writing still keeps it out (kNotOpened).
  const Handle file(::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    return InPlaceResult::kNotOpened;
  }
  return Rewrite(file.get(), bytes);
}

}  // namespace vellomar::platform
