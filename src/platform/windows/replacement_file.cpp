// Replacing a file through a temporary file in the same folder on Windows.
#include <cstdlib>
#include <random>
#include <string>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vellomar::platform {
namespace {

using win32::Handle;

std::string FolderOf(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  // "C:\hosts" lies in "C:\", not in "C:" (the current folder of drive C).
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::string BaseNameOf(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The name stem of the temporary files for `target`; the writer's process id and a random
// number follow it. No leading dot: the hidden attribute keeps them out of listings here.
std::string TempStem(const std::string& target) { return BaseNameOf(target) + ".new-"; }

// True when process `pid` has ended (or never was); a process that cannot be examined counts
// as running.
bool ProcessGone(DWORD pid) {
  const Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.valid()) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  return ::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE;
}

// What keeps the target from being replaced while the rest of the system is in order: another
// process holds it open without sharing its deletion, or has it mapped.
bool IsBusy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

// A rename over a file that another process holds fails as "access denied", as one without
// the right to do it does. Opening the file for deletion tells the two apart.
bool IsHeldOpen(const std::wstring& path) {
  const Handle probe(::CreateFileW(
      path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !probe.valid() && IsBusy(::GetLastError());
}

class WindowsReplacementFile final : public ReplacementFile {
 public:
  WindowsReplacementFile(std::wstring target, std::wstring temp, Handle file)
      : target_(std::move(target)), temp_(std::move(temp)), file_(std::move(file)) {}

  ~WindowsReplacementFile() override {
    file_.Reset();
    if (!committed_) ::DeleteFileW(temp_.c_str());
  }
  WindowsReplacementFile(const WindowsReplacementFile&) = delete;
  WindowsReplacementFile& operator=(const WindowsReplacementFile&) = delete;

  bool Write(std::string_view bytes) override {
    if (ok_ && !win32::WriteAll(file_.get(), bytes)) ok_ = false;
    if (!bytes.empty()) synced_ = false;
    return ok_;
  }

  bool Truncate(std::uint64_t size) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (ok_ && (!::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) ||
                !::SetEndOfFile(file_.get()))) {
      ok_ = false;
    }
    synced_ = false;
    return ok_;
  }

  bool Sync() override {
    if (!file_.valid()) return false;
    if (ok_ && !synced_) {
      ok_ = ::FlushFileBuffers(file_.get()) != 0;
      synced_ = ok_;
    }
    return ok_;
  }

  CommitResult Commit() override {
    if (!file_.valid()) return CommitResult::kWriteFailed;
    Sync();
    // Made hidden while incomplete; an ordinary file when it takes the target's place.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (ok_ && !::SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)) {
      ok_ = false;
    }
    if (!file_.Reset()) ok_ = false;
    if (!ok_) return CommitResult::kWriteFailed;
    const CommitResult result = Rename();
    committed_ = result == CommitResult::kReplaced;
    return result;
  }

 private:
  // MoveFileExW rather than ReplaceFileW: the one call is the whole of the replacement, so no
  // failure can leave a third file behind. The new file has the access rights its folder hands
  // down, as the hosts file normally has; the install puts the protective marks back.
  CommitResult Rename() {
    const DWORD attributes = ::GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return CommitResult::kRenameFailed;
    }
    if (::MoveFileExW(temp_.c_str(), target_.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return CommitResult::kReplaced;
    }
    const DWORD error = ::GetLastError();
    if (IsBusy(error) || (error == ERROR_ACCESS_DENIED && IsHeldOpen(target_))) {
      return CommitResult::kTargetBusy;
    }
    return CommitResult::kRenameFailed;
  }

  std::wstring target_;
  std::wstring temp_;
  Handle file_;
  bool ok_ = true;
  bool synced_ = false;
  bool committed_ = false;
};

}  // namespace

// `like` is not used: the new file takes the access rights its folder hands down (see Rename).
std::unique_ptr<ReplacementFile> CreateReplacementFile(const std::string& target,
                                                       const std::string& /*like*/) {
  const auto wide_target = win32::FilePath(target);
  if (!wide_target) return nullptr;
  const std::string stem =
      JoinPath(FolderOf(target), TempStem(target)) + std::to_string(::GetCurrentProcessId()) + "-";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    const auto temp = win32::FilePath(stem + std::to_string(random() % 1000000000u));
    if (!temp) return nullptr;
    // Hidden, so that a listing of the folder never shows a half-written file; CREATE_NEW with
    // the reparse flag, so that nothing already at the name is followed or reused.
    Handle file(::CreateFileW(temp->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    return std::make_unique<WindowsReplacementFile>(*wide_target, *temp, std::move(file));
  }
  return nullptr;
}

int RemoveStaleReplacements(const std::string& target) {
  const std::string stem = TempStem(target);
  const auto pattern = win32::FilePath(JoinPath(FolderOf(target), stem + "*"));
  if (!pattern) return 0;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    // Only files: a folder of that name is not a leftover of this program.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const auto name = win32::Narrow(found.cFileName);
    if (!name || name->compare(0, stem.size(), stem) != 0) continue;
    // Only a name of exactly the form this program's writers give (the writer's process id, a
    // dash, a number) of a writer that is gone: anything else is someone else's business.
    const std::string rest = name->substr(stem.size());
    const auto dash = rest.find('-');
    const auto digits = [](const std::string& text) {
      return !text.empty() && text.size() <= 10 &&
             text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (dash == std::string::npos || !digits(rest.substr(0, dash)) ||
        !digits(rest.substr(dash + 1))) {
      continue;
    }
    const unsigned long pid = std::strtoul(rest.c_str(), nullptr, 10);
    if (pid == 0 || pid > 0xFFFFFFFFul || pid == ::GetCurrentProcessId() ||
        !ProcessGone(static_cast<DWORD>(pid))) {
      continue;
    }
    const auto path = win32::FilePath(JoinPath(FolderOf(target), *name));
    if (path && ::DeleteFileW(path->c_str())) ++removed;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return removed;
}

}  // namespace vellomar::platform
