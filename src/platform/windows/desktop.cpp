// The user's data folder and the host name on Windows.
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vellomar::platform {
namespace {

// Creates `folder` and the folders above it that are missing. True when a folder is there at
// the end.
bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  if (FolderExists(folder)) return true;
  const auto slash = folder.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0 && folder[slash - 1] != ':' &&
      !MakeFolders(folder.substr(0, slash))) {
    return false;
  }
  const auto wide = win32::FilePath(folder);
  return wide && (::CreateDirectoryW(wide->c_str(), nullptr) != 0 ||
                  (::GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(folder)));
}

// Copies the visible regular files of `from` into the new folder `to`. False when `to` could
// not be created or a file could not be copied; `to` then holds what was copied.
bool CopySamples(const std::string& from, const std::string& to) {
  const auto names = ListFolder(from);
  if (!names || !MakeFolders(to)) return false;
  bool ok = true;
  std::string bytes;
  for (const std::string& name : *names) {
    if (ReadFileWhole(JoinPath(from, name), bytes) != ReadStatus::kOk) continue;
    const auto file = CreateReplacementFile(JoinPath(to, name));
    ok = file && file->Write(bytes) && file->Commit() == ReplacementFile::CommitResult::kReplaced &&
         ok;
  }
  return ok;
}

// Whether this user can create files in `folder`: by creating one and dropping it.
bool CanWriteIn(const std::string& folder) {
  return CreateReplacementFile(JoinPath(folder, "vellomar-write-test")) != nullptr;
}

}  // namespace

std::string UserDataHome() {
  // The local (not roaming) application data: the merged file and the log belong to this
  // machine.
  std::string home = win32::Environment(L"LOCALAPPDATA");
  if (home.empty()) home = win32::Environment(L"APPDATA");
  return home;
}

ProgramFolderChoice ChooseProgramFolder(const std::string& program_folder,
                                        const std::string& data_home) {
  const std::string installed = JoinPath(program_folder, kInstalledSamples);
  const bool is_installed = FolderExists(installed);
  ProgramFolderChoice choice;
  choice.folder = program_folder;
  if (!is_installed && CanWriteIn(program_folder)) return choice;
  if (data_home.empty()) {
    choice.problem = FolderProblem::kNoHome;
    choice.problem_folder = program_folder;
    return choice;
  }
  choice.folder = JoinPath(data_home, "vellomar");
  if (!MakeFolders(choice.folder)) {
    choice.problem = FolderProblem::kCannotCreate;
    choice.problem_folder = choice.folder;
    return choice;
  }
  const std::string sources = JoinPath(choice.folder, "Hostfiles");
  if (FolderExists(sources) || FileExists(sources)) return choice;  // the user's own
  const std::string samples = is_installed ? installed : JoinPath(program_folder, "Hostfiles");
  if (!FolderExists(samples)) return choice;
  if (CopySamples(samples, sources)) {
    choice.seeded = true;
  } else {
    choice.problem = FolderProblem::kSamplesNotCopied;
    choice.problem_folder = sources;
  }
  return choice;
}

// Windows has no root's folder: the service runs as the user who installed the program.
std::string SystemFolder() { return {}; }

ProgramFolderChoice ChooseSystemFolder(const std::string& folder,
                                       const std::string& /*program_folder*/) {
  return {folder, FolderProblem::kCannotCreate, folder, {}, false};
}

std::string PrivateFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD got = ::GetTempPathW(static_cast<DWORD>(std::size(path)), path);
  if (got == 0 || got > MAX_PATH) return {};
  std::wstring folder(path, got);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return win32::NarrowPath(folder).value_or(std::string());
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = static_cast<DWORD>(std::size(name));
  if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size) == 0) return {};
  return win32::Narrow(std::wstring_view(name, size)).value_or(std::string());
}

}  // namespace vellomar::platform
