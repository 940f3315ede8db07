// Files on Windows: the existence test, the whole-file read, attributes, private scripts.
#include "platform/windows/win32.h"
// clang-format off
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
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
// The one id EffectiveUser gives (see there); any value but 0 would do.
constexpr std::uint32_t kWindowsUser = 1000;

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

namespace {

// The facts of an open file or folder. Windows has no owner ids or mode bits as POSIX has: every
// file counts as this user's, and the mode tells only whether the file may be written.
FileFacts FactsOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileFacts facts;
  facts.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  facts.owner = EffectiveUser();
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 && !folder;
  facts.mode = folder ? 0755 : read_only ? 0444 : 0644;
  facts.hidden = (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
  return facts;
}

ReadStatus OpenFailure(const std::wstring& path, DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return ReadStatus::kMissing;
    case ERROR_ACCESS_DENIED: {
      // A folder cannot be opened as a file; it is no file to read.
      const auto attributes = EntryAttributes(path);
      if (attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ReadStatus::kNotRegular;
      }
      return ReadStatus::kUnreadable;
    }
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return ReadStatus::kNotRegular;  // a link that cannot be followed
    default:
      return ReadStatus::kUnreadable;  // held open for writing by another program, I/O errors
  }
}

}  // namespace

InputFile::~InputFile() {
  if (handle_ >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), facts_(other.facts_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = std::exchange(other.handle_, -1);
    facts_ = other.facts_;
  }
  return *this;
}

InputFile InputFile::Open(const std::string& path, Links links, ReadStatus& status) {
  InputFile file;
  const auto wide = win32::FilePath(path);
  if (!wide) {
    status = ReadStatus::kMissing;  // empty, or a name the ANSI code page does not spell
    return file;
  }
  // Sharing reading only: while another process holds the file open for writing the open
  // fails, so that a half-written file is never taken for whole. Refusing links opens the link
  // itself, which the checks below then refuse.
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  if (links == Links::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  Handle handle(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              flags, nullptr));
  if (!handle.valid()) {
    status = OpenFailure(*wide, ::GetLastError());
    return file;
  }
  // Devices (NUL, CON, COM1 in any folder) and pipes are no files; neither are folders or, when
  // refused, links and other reparse points.
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    status = ReadStatus::kNotRegular;
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.get(), &info)) {
    status = ReadStatus::kUnreadable;
    return file;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (links == Links::kRefuse && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    status = ReadStatus::kNotRegular;
    return file;
  }
  const FileFacts facts = FactsOf(info);
  if (facts.size > kMaxFileBytes) {
    status = ReadStatus::kTooLarge;
    return file;
  }
  file.handle_ = reinterpret_cast<std::intptr_t>(handle.Release());
  file.facts_ = facts;
  status = ReadStatus::kOk;
  return file;
}

std::int64_t InputFile::Read(char* into, std::size_t size) {
  if (handle_ < 0) return -1;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), into, want, &got, nullptr)) return -1;
  return got;
}

bool InputFile::Rewind() {
  LARGE_INTEGER start{};
  return handle_ >= 0 &&
         ::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), start, nullptr, FILE_BEGIN) != 0;
}

ReadStatus InputFile::ReadAll(std::string& out) {
  if (handle_ < 0) {
    out.clear();
    return ReadStatus::kUnreadable;
  }
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  const auto length = static_cast<std::size_t>(facts_.size);
  try {
    // The old bytes are of no use: growing past the capacity should not copy them.
    if (length > out.capacity()) out.clear();
    out.resize(length);
  } catch (const std::bad_alloc&) {
    std::string().swap(out);
    return ReadStatus::kTooLarge;
  }
  ReadStatus status = ReadStatus::kOk;
  std::size_t done = 0;
  while (status == ReadStatus::kOk && done < length) {
    const std::int64_t n = Read(out.data() + done, length - done);
    if (n < 0) status = ReadStatus::kUnreadable;
    if (n == 0) status = ReadStatus::kChanged;  // the file got shorter
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (status == ReadStatus::kOk) {
    // One byte more would mean the file grew since its length was taken.
    char probe;
    DWORD got = 0;
    if (!::ReadFile(file, &probe, 1, &got, nullptr)) {
      status = ReadStatus::kUnreadable;
    } else if (got != 0) {
      status = ReadStatus::kChanged;
    }
  }
  if (status != ReadStatus::kOk) out.clear();
  return status;
}

// The path the system reaches through every link and short name, as the file functions take
// it: without the "\\?\" prefix, which FilePath adds again to a long path.
std::optional<std::string> ResolvePath(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return std::nullopt;
  const Handle file(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return std::nullopt;
  std::wstring final_path(MAX_PATH, L'\0');
  DWORD size = ::GetFinalPathNameByHandleW(file.get(), final_path.data(),
                                           static_cast<DWORD>(final_path.size()), 0);
  if (size >= final_path.size()) {
    final_path.resize(size);
    size = ::GetFinalPathNameByHandleW(file.get(), final_path.data(),
                                       static_cast<DWORD>(final_path.size()), 0);
  }
  if (size == 0 || size >= final_path.size()) return std::nullopt;
  final_path.resize(size);
  if (final_path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    final_path = L"\\\\" + final_path.substr(8);
  } else if (final_path.rfind(L"\\\\?\\", 0) == 0) {
    final_path.erase(0, 4);
  }
  return win32::NarrowPath(final_path);
}

std::optional<FileFacts> FolderFacts(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return std::nullopt;
  const Handle folder(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folder.valid() || !::GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return std::nullopt;
  }
  return FactsOf(info);
}

// Windows names users by security identifiers, not numbers, and no user there passes every
// access check as root does on POSIX, not even an elevated administrator, whose access the
// access lists of the files still decide. The program's user is therefore one fixed id that is
// never 0: the checks for a program running as root (folder safety, reading for the folder's
// owner) stand for a rule of POSIX's permission model and do not apply.
std::uint32_t EffectiveUser() { return kWindowsUser; }

// Judging a folder here would mean reading its access list and those of the folders above it,
// which grant rights by many more means than mode bits (inherited entries, groups, creator
// owner). That is not done: since EffectiveUser is never 0, no caller asks on Windows, and an
// existing folder counts as safe.
FolderSafety CheckFolderSafety(const std::string& path) {
  return FolderExists(path) ? FolderSafety::kSafe : FolderSafety::kMissing;
}

FolderSafety CheckPathSafety(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? FolderSafety::kSafe
                                        : CheckFolderSafety(path.substr(0, separator + 1));
}

std::optional<std::vector<std::string>> ListFolder(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  const auto pattern = win32::FilePath(JoinPath(folder, "*"));
  if (!pattern) return std::nullopt;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty folder still has "." and ".."; only a drive root can have nothing at all.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(std::vector<std::string>())
                                                    : std::nullopt;
  }
  std::vector<std::string> names;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // A name the ANSI code page cannot spell could not be opened through this layer again: it
    // is left out rather than given as a look-alike that names another file or none.
    if (auto narrow = win32::Narrow(name)) names.push_back(std::move(*narrow));
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) return std::nullopt;
  return names;
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

std::vector<std::string> EditorCandidates() {
  std::vector<std::string> candidates;
  if (const std::string root = win32::Environment(L"SystemRoot"); !root.empty()) {
    candidates.push_back(JoinPath(root, "notepad.exe"));
  }
  candidates.push_back("c:\\windows\\notepad.exe");
  candidates.push_back("c:\\winnt\\notepad.exe");
  return candidates;
}

std::vector<std::string> ResolverToolCandidates() {
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

bool IsRestorableProtection(const Protection& marks) { return (marks.flags & ~kProtective) == 0; }

bool RestoreProtection(const std::string& path, const Protection& removed) {
  // Only the marks this program clears are ever set again, whatever a caller hands in.
  const DWORD flags = removed.flags & kProtective;
  if (flags == 0) return true;
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return ::SetFileAttributesW(wide->c_str(), (attributes & kSettable) | flags) != 0;
}

bool RestoreOwnerWrite(const std::string& /*path*/, const Protection& /*removed*/) {
  // Nothing to take away: the read-only mark is restored by RestoreProtection.
  return true;
}

std::optional<Protection> ProtectionOf(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return std::nullopt;
  const auto attributes = EntryAttributes(*wide);  // of a link itself, as on POSIX
  if (!attributes) return std::nullopt;
  Protection marks;
  marks.flags = *attributes & kProtective;
  return marks;
}

bool AppendToLog(const std::string& path, std::string_view bytes) {
  const auto wide = win32::FilePath(path);
  if (!wide) return false;
  // Appending only: every write lands at the end, also when others append at the same time.
  // A link at the path is opened itself, never followed, and then refused.
  const Handle file(::CreateFileW(wide->c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  return win32::WriteAll(file.get(), bytes);
}

RemoveResult RemoveEntry(const std::string& path) {
  const auto wide = win32::FilePath(path);
  if (!wide) return RemoveResult::kFailed;
  // DeleteFileW removes a link itself, never what it points to, and refuses a folder.
  if (::DeleteFileW(wide->c_str())) return RemoveResult::kRemoved;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RemoveResult::kAbsent
                                                                        : RemoveResult::kFailed;
}

namespace {

class WindowsOwnFile final : public OwnFile {
 public:
  explicit WindowsOwnFile(Handle file) : file_(std::move(file)) {}

  bool Append(std::string_view bytes) override { return win32::WriteAll(file_.get(), bytes); }

  ReadStatus ReadAll(std::string& out) override {
    out.clear();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.get(), &size) || size.QuadPart < 0) return ReadStatus::kUnreadable;
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaxFileBytes) return ReadStatus::kTooLarge;
    try {
      out.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
      std::string().swap(out);
      return ReadStatus::kTooLarge;
    }
    // Reads at given offsets: the handle writes only at the end, wherever its position is.
    std::size_t done = 0;
    while (done < out.size()) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(done & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(std::uint64_t{done} >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 24));
      DWORD got = 0;
      if (!::ReadFile(file_.get(), out.data() + done, want, &got, &at) || got == 0) {
        const bool ended = got == 0 && ::GetLastError() == ERROR_HANDLE_EOF;
        out.clear();
        return ended ? ReadStatus::kChanged : ReadStatus::kUnreadable;
      }
      done += got;
    }
    return ReadStatus::kOk;
  }

  std::intptr_t NativeHandle() const override {
    return reinterpret_cast<std::intptr_t>(file_.get());
  }

 private:
  Handle file_;
};

}  // namespace

std::unique_ptr<OwnFile> CreateOwnFile(const std::string& path) {
  const auto wide = win32::FilePath(path);
  const auto acl = OwnerOnlyAcl();
  if (!wide || !acl) return nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(acl->c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  // Reading, and writing only at the end (the child's output and the marker after it). Others
  // may read it meanwhile, as an editor showing the capture does. CREATE_NEW with the reparse
  // flag: nothing already at the name is followed or reused.
  Handle file(::CreateFileW(wide->c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ, &security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  ::LocalFree(descriptor);
  if (!file.valid()) return nullptr;
  return std::make_unique<WindowsOwnFile>(std::move(file));
}

}  // namespace vellomar::platform
