// Files on Windows: the existence test, the whole-file read, attributes, private scripts.
#include "platform/windows/win32.h"
// clang-format off
#include <sddl.h>
// clang-format on

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

using win32::Handle;

// The marks that keep a file from being written, renamed over or found by the lookup.
constexpr DWORD kProtective =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The attributes SetFileAttributesW takes; the others describe the file and cannot be set so.
constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_TEMPORARY;
// Files are read whole into memory; anything larger than this is no hosts file, and refusing it
// beats exhausting the memory of the program.
constexpr std::uint64_t kMaxRead = std::uint64_t{1} << 30;

// The attributes of the directory entry at `path` (of a link, not of its target).
std::optional<DWORD> EntryAttributes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data.dwFileAttributes;
}

// The attributes of what a link points to; nullopt for a dangling link.
std::optional<DWORD> TargetAttributes(const std::wstring& path) {
  const Handle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return info.dwFileAttributes;
}

// A DACL that lets only the user this program runs as at the file, as "D:P(A;;FA;;;<sid>)".
std::optional<std::wstring> OwnerOnlyAcl() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return std::nullopt;
  const Handle token(raw_token);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return std::nullopt;
  }
  wchar_t* sid_text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                &sid_text)) {
    return std::nullopt;
  }
  std::wstring acl = L"D:P(A;;FA;;;" + std::wstring(sid_text) + L")";
  ::LocalFree(sid_text);
  return acl;
}

}  // namespace

OsFamily NativeOsFamily() { return OsFamily::kWindows; }

char PathSeparator() { return '\\'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + '\\' + name;
}

// The directory lookup of the system: a file counts when its entry is neither a folder nor
// marked hidden or system (read-only and archive files count). A link counts when it leads
// to a file.
bool FileExists(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  const auto attributes = EntryAttributes(*wide);
  if (!attributes) return false;
  if ((*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
      0) {
    return false;
  }
  if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  const auto target = TargetAttributes(*wide);
  return target && (*target & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  const auto attributes = EntryAttributes(*wide);
  if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  const auto target = TargetAttributes(*wide);
  return target && (*target & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadFileInto(const std::string& path, std::string& out) {
  const auto fail = [&out] {
    out.clear();
    return false;
  };
  const auto wide = win32::FilePath(path);
  if (!wide) return fail();
  // Sharing reading only: while another process holds the file open for writing (the capture
  // batch filling its file) the open fails, so a half-written file is never taken for whole.
  const Handle file(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return fail();
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxRead) {
    return fail();
  }
  const auto length = static_cast<std::size_t>(size.QuadPart);
  // The old bytes are of no use: growing past the capacity should not copy them.
  if (length > out.capacity()) out.clear();
  out.resize(length);
  if (!win32::ReadExactly(file.get(), out.data(), length)) return fail();
  // One byte more would mean the file grew since its length was taken.
  char probe;
  DWORD got = 0;
  if (!::ReadFile(file.get(), &probe, 1, &got, nullptr) || got != 0) return fail();
  return true;
}

std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    if (FileExists(candidate)) return candidate;
  }
  return {};
}

// The folder the system was installed in first (taken from the environment, as every program
// started by the system has it), then the fixed places of the usual installations.
std::vector<std::string> HostsCandidates() {
  std::vector<std::string> candidates;
  if (const std::string root = win32::Environment(L"SystemRoot"); !root.empty()) {
    candidates.push_back(JoinPath(root, "system32\\drivers\\etc\\hosts"));
  }
  candidates.push_back("c:\\windows\\system32\\drivers\\etc\\hosts");
  candidates.push_back("c:\\winnt\\system32\\drivers\\etc\\hosts");
  return candidates;
}

std::vector<std::string> NotepadCandidates() {
  std::vector<std::string> candidates;
  if (const std::string root = win32::Environment(L"SystemRoot"); !root.empty()) {
    candidates.push_back(JoinPath(root, "notepad.exe"));
  }
  candidates.push_back("c:\\windows\\notepad.exe");
  candidates.push_back("c:\\winnt\\notepad.exe");
  return candidates;
}

std::vector<std::string> IpconfigCandidates() {
  std::vector<std::string> candidates;
  if (const std::string root = win32::Environment(L"SystemRoot"); !root.empty()) {
    candidates.push_back(JoinPath(root, "system32\\ipconfig.exe"));
  }
  candidates.push_back("c:\\windows\\system32\\ipconfig.exe");
  candidates.push_back("c:\\winnt\\system32\\ipconfig.exe");
  return candidates;
}

// Clears the read-only, hidden and system marks; the others (archive, not indexed...) stay.
// `added_owner_write` stays false: read-only is one of the marks and comes back with them.
std::optional<Protection> SetAttributesNormal(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return std::nullopt;
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  Protection removed;
  if ((attributes & kProtective) == 0) return removed;
  const DWORD normal = attributes & kSettable & ~kProtective;
  if (::SetFileAttributesW(wide->c_str(), normal != 0 ? normal : FILE_ATTRIBUTE_NORMAL)) {
    removed.flags = attributes & kProtective;
  }
  return removed;
}

bool RestoreProtection(const std::string& path, const Protection& removed) {
  if (removed.flags == 0) return true;
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return ::SetFileAttributesW(wide->c_str(), (attributes & kSettable) | removed.flags) != 0;
}

bool RestoreOwnerWrite(const std::string& /*path*/, const Protection& /*removed*/) {
  // Nothing to take away: the read-only mark is restored by RestoreProtection.
  return true;
}

bool DeleteFile(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  if (::DeleteFileW(wide->c_str())) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CreatePrivateScript(const std::string& path, const std::string& bytes) {
  const auto wide = win32::FilePath(path);
  const auto acl = OwnerOnlyAcl();
  if (!wide || !acl) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(acl->c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  // CREATE_NEW fails on any existing name; a link in the way is not followed.
  Handle file(::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  ::LocalFree(descriptor);
  if (!file.valid()) return false;
  bool ok = win32::WriteAll(file.get(), bytes);
  ok = file.Reset() && ok;
  if (!ok) ::DeleteFileW(wide->c_str());
  return ok;
}

}  // namespace vellomar::platform
