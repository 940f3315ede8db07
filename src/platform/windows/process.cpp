// Program identity, process start, shell open, rights and the single-instance lock on Windows.
#include "platform/windows/win32.h"
// clang-format off
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

using win32::Handle;

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// "C:\..." or "\\server\...": a path that names one place whatever the current folder is.
bool IsFullPath(std::wstring_view path) {
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return true;
  return path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && path[0] == path[1];
}

bool HasFolder(std::wstring_view program) {
  return program.find_first_of(L"\\/:") != std::wstring_view::npos;
}

bool HasExtension(std::wstring_view program) {
  const auto dot = program.find_last_of(L'.');
  return dot != std::wstring_view::npos && program.find_first_of(L"\\/", dot) == program.npos;
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view tail) {
  if (text.size() < tail.size()) return false;
  return ::CompareStringOrdinal(text.data() + (text.size() - tail.size()),
                                static_cast<int>(tail.size()), tail.data(),
                                static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

bool IsBatch(std::wstring_view program) {
  return EndsWithNoCase(program, L".bat") || EndsWithNoCase(program, L".cmd");
}

std::wstring SystemFolder(UINT (*get)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH];
  const UINT size = get(buffer, MAX_PATH);
  return size > 0 && size < MAX_PATH ? std::wstring(buffer, size) : std::wstring();
}

std::wstring WideEnvironment(const wchar_t* name) {
  std::vector<wchar_t> value(MAX_PATH);
  DWORD size = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (size >= value.size()) {
    value.resize(size);
    size = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  return size > 0 && size < value.size() ? std::wstring(value.data(), size) : std::wstring();
}

// Finds a program named without a folder in the system's folders and then in PATH, adding
// ".exe" to a name without an extension. Unlike CreateProcess's own search it never looks in
// the current folder or in this program's folder, where a planted "net.exe" would come first.
// Empty when not found.
std::wstring ResolveProgram(const std::wstring& program) {
  if (program.empty()) return {};
  if (HasFolder(program)) return IsFile(program) ? program : std::wstring();
  const std::wstring name = HasExtension(program) ? program : program + L".exe";
  std::vector<std::wstring> folders = {SystemFolder(::GetSystemDirectoryW),
                                       SystemFolder(::GetWindowsDirectoryW)};
  const std::wstring path_list = WideEnvironment(L"PATH");
  for (std::size_t start = 0; start <= path_list.size();) {
    auto end = path_list.find(L';', start);
    if (end == std::wstring::npos) end = path_list.size();
    std::wstring folder = path_list.substr(start, end - start);
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
      folder = folder.substr(1, folder.size() - 2);
    }
    if (IsFullPath(folder)) folders.push_back(folder);  // "." and other relative entries skipped
    start = end + 1;
  }
  for (const auto& folder : folders) {
    if (folder.empty()) continue;
    const bool separated = folder.back() == L'\\' || folder.back() == L'/';
    const std::wstring candidate = folder + (separated ? L"" : L"\\") + name;
    if (IsFile(candidate)) return candidate;
  }
  return {};
}

// The command interpreter that runs batch files: cmd.exe in the system folder named by
// SystemRoot, else the one ComSpec names. Only full paths are taken, never a bare "cmd.exe"
// that a search could find in the wrong place. Empty when neither exists.
std::wstring CommandInterpreter() {
  const std::wstring root = WideEnvironment(L"SystemRoot");
  if (IsFullPath(root)) {
    std::wstring cmd = root;
    if (cmd.back() != L'\\') cmd += L'\\';
    cmd += L"System32\\cmd.exe";
    if (IsFile(cmd)) return cmd;
  }
  const std::wstring comspec = WideEnvironment(L"ComSpec");
  if (IsFullPath(comspec) && IsFile(comspec)) return comspec;
  return {};
}

// Appends one argument as CommandLineToArgvW and the C runtime split it back: quoted when it
// is empty or holds blanks or quotes, with backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
  line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    line += c;
    backslashes = 0;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// cmd.exe reads its command line by rules of its own: it expands %variables% even inside
// quotes and treats & | < > ^ ( ) as commands. A batch file or argument holding any of them is
// refused rather than risk running something else.
bool IsSafeForBatch(std::wstring_view text, bool quoted_path) {
  for (const wchar_t c : text) {
    if (c < L' ' || c == L'"' || c == L'%' || c == L'!') return false;
    if (!quoted_path && std::wstring_view(L"&|<>^()").find(c) != std::wstring_view::npos) {
      return false;
    }
  }
  return true;
}

// The program to run and its command line; false when the program cannot be found or a batch
// file cannot be run safely.
bool BuildCommand(const std::vector<std::string>& argv, std::wstring& application,
                  std::wstring& line) {
  std::vector<std::wstring> wide;
  for (const auto& argument : argv) {
    auto converted = win32::Widen(argument);
    if (!converted) return false;
    wide.push_back(std::move(*converted));
  }
  const std::wstring program = ResolveProgram(wide.at(0));
  if (program.empty()) return false;
  if (!IsBatch(program)) {
    application = program;
    line = L"\"" + program + L"\"";
    for (std::size_t i = 1; i < wide.size(); ++i) AppendArgument(line, wide[i]);
    return true;
  }
  // A batch file runs in the command interpreter: /d skips the AutoRun commands of the
  // registry, /v:off delayed expansion, and /s takes the line after /c literally once its
  // outer quotes are gone.
  application = CommandInterpreter();
  if (application.empty() || !IsSafeForBatch(program, true)) return false;
  line = L"\"" + application + L"\" /d /v:off /s /c \"\"" + program + L"\"";
  for (std::size_t i = 1; i < wide.size(); ++i) {
    if (!IsSafeForBatch(wide[i], false)) return false;
    AppendArgument(line, wide[i]);
  }
  line += L'"';
  return true;
}

WORD ShowCommand(WindowStyle style) {
  switch (style) {
    case WindowStyle::kNormalFocus:
      return SW_SHOWNORMAL;
    case WindowStyle::kMinimizedFocus:
      return SW_SHOWMINIMIZED;
    case WindowStyle::kMinimizedNoFocus:
      // The style's number, 6, is SW_MINIMIZE, which activates another window; what it asks
      // for is a minimized window that does not take the focus.
      return SW_SHOWMINNOACTIVE;
  }
  return SW_SHOWNORMAL;
}

class SystemLauncher final : public Launcher {
 public:
  bool Start(const std::vector<std::string>& argv, WindowStyle style,
             const std::string& working_folder) override {
    if (argv.empty()) return false;
    std::wstring application;
    std::wstring line;
    if (!BuildCommand(argv, application, line)) return false;
    std::optional<std::wstring> folder;
    if (!working_folder.empty()) {
      folder = win32::Widen(working_folder);
      // The system cannot start a process in a folder of MAX_PATH or more characters.
      if (!folder || folder->size() >= MAX_PATH) return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = ShowCommand(style);
    PROCESS_INFORMATION process{};
    // A console program gets a console of its own, shown in the style asked for, rather than
    // sharing (or lacking) this program's.
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_CONSOLE, nullptr, folder ? folder->c_str() : nullptr, &startup,
                          &process)) {
      return false;
    }
    // Not waited for: the handles are dropped and the process runs on by itself.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
  }

  bool ShellOpen(const std::string& target) override {
    const auto wide = win32::Widen(target);
    if (!wide || wide->empty()) return false;
    // The shell may hand the target to a COM server; it needs COM on this thread.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No message box when nothing can open the target: failures are the caller's to judge.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = ::GetDesktopWindow();
    info.lpVerb = L"open";
    info.lpFile = wide->c_str();
    info.nShow = SW_SHOW;
    const bool ok = ::ShellExecuteExW(&info) != 0;
    if (SUCCEEDED(com)) ::CoUninitialize();
    return ok;
  }
};

class MutexLock final : public InstanceLock {
 public:
  explicit MutexLock(Handle mutex) : mutex_(std::move(mutex)) {}

 private:
  Handle mutex_;
};

// FNV-1a over the upper-cased path: stable from run to run, and the same for the spellings of
// one path that differ only in letter case, as the file system takes them for one.
std::uint64_t PathHash(std::wstring path) {
  if (!path.empty()) ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 1469598103934665603ULL;
  for (const wchar_t c : path) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::wstring ModuleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (buffer.size() <= 32768) {
    const DWORD size =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) return {};
    if (size < buffer.size()) return std::wstring(buffer.data(), size);
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

}  // namespace

// A path that the ANSI code page cannot spell is given by its short (8.3) form, which can;
// where the volume keeps no short names, the path is empty, so that nothing is read or written
// under a name that best-fit mapping has turned into another one.
std::string ProgramPath() {
  const std::wstring path = ModuleFileName();
  if (path.empty()) return {};
  return win32::NarrowPath(path).value_or(std::string());
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  // The root keeps its separator: "C:" alone would be the current folder of drive C.
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, separator);
}

std::string ProgramName() {
  const std::string path = ProgramPath();
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::unique_ptr<Launcher> CreateSystemLauncher() { return std::make_unique<SystemLauncher>(); }

// Whether the token may write what only administrators may write (the hosts file's access list
// gives write to Administrators and SYSTEM): the Administrators group enabled in it. Under UAC
// an administrator's process that was not elevated holds the group for denying only and does
// not count; the elevated one does (TokenElevation would say the same for both, but also call
// elevated a token that holds some other privileged group and still cannot write the file);
// with UAC off an administrator's token is full and counts.
bool IsUserAnAdmin() {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  ::FreeSid(administrators);
  return member != FALSE;
}

// A named mutex in this session's namespace, named after a hash of the full program path.
LockResult TakeInstanceLock(const std::string& program_path) {
  LockResult result;
  std::wstring key = win32::Widen(program_path).value_or(std::wstring());
  if (!key.empty()) {
    const DWORD size = ::GetFullPathNameW(key.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    if (size > 0) {
      const DWORD got = ::GetFullPathNameW(key.c_str(), size, full.data(), nullptr);
      if (got > 0 && got < size) key.assign(full.data(), got);
    }
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\vellomar-%016llx",
                static_cast<unsigned long long>(PathHash(key)));
  Handle mutex(::CreateMutexW(nullptr, FALSE, name));
  if (!mutex.valid()) {
    result.reason =
        "the instance mutex cannot be made (error " + std::to_string(::GetLastError()) + ")";
    return result;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    result.kind = LockResult::Kind::kHeldByOther;
    return result;
  }
  result.kind = LockResult::Kind::kTaken;
  result.lock = std::make_unique<MutexLock>(std::move(mutex));
  return result;
}

// ---- Programs run with their output taken --------------------------------------------------

namespace {

// An inheritable copy of `handle` for a child; invalid when it cannot be made.
Handle InheritableCopy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return Handle();
  }
  return Handle(copy);
}

// The null device, inheritable, for a child's input or for output nobody takes.
Handle NullDevice(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return Handle(::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A process started suspended in a job of its own (so that Kill reaches whatever it starts),
// then let run. The standard handles must be inheritable; they, and nothing else, are handed
// down, so that no other handle of this program (an open hosts file) ends up in the child.
struct Started {
  Handle process;
  Handle job;
};

std::optional<Started> Spawn(const std::vector<std::string>& argv, HANDLE input, HANDLE output,
                             HANDLE error, StartResult& result) {
  result = StartResult::kCannotStart;
  const auto program = argv.empty() ? std::nullopt : win32::Widen(argv[0]);
  // A full path, never searched for.
  if (!program || !IsFullPath(*program) || !IsFile(*program)) {
    result = StartResult::kProgramMissing;
    return std::nullopt;
  }
  std::wstring application;
  std::wstring line;
  if (!BuildCommand(argv, application, line)) return std::nullopt;

  HANDLE inherited[3] = {input, output, error};
  const DWORD count = output == error ? 2 : 3;
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return std::nullopt;
  const bool listed =
      ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  count * sizeof(HANDLE), nullptr, nullptr) != 0;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = error;
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION process{};
  const BOOL created =
      listed && ::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT,
                                 nullptr, nullptr, &startup.StartupInfo, &process);
  const DWORD create_error = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  if (!created) {
    if (create_error == ERROR_FILE_NOT_FOUND || create_error == ERROR_PATH_NOT_FOUND) {
      result = StartResult::kProgramMissing;
    }
    return std::nullopt;
  }
  Started started{Handle(process.hProcess), Handle(::CreateJobObjectW(nullptr, nullptr))};
  const Handle thread(process.hThread);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  // Without a job (the system refused one) the child alone can be ended.
  if (!started.job.valid() ||
      !::SetInformationJobObject(started.job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
      !::AssignProcessToJobObject(started.job.get(), started.process.get())) {
    started.job.Reset();
  }
  ::ResumeThread(thread.get());
  result = StartResult::kStarted;
  return started;
}

class WindowsChild final : public ChildProcess {
 public:
  explicit WindowsChild(Started started) : started_(std::move(started)) {}
  ~WindowsChild() override { Kill(); }
  WindowsChild(const WindowsChild&) = delete;
  WindowsChild& operator=(const WindowsChild&) = delete;

  bool HasEnded() override {
    if (!started_.process.valid()) return true;
    if (::WaitForSingleObject(started_.process.get(), 0) == WAIT_TIMEOUT) return false;
    started_.process.Reset();
    started_.job.Reset();  // ends what the child left running, as a killed process group
    return true;
  }

  void Kill() override {
    if (!started_.process.valid()) return;
    if (!started_.job.valid() || !::TerminateJobObject(started_.job.get(), 1)) {
      ::TerminateProcess(started_.process.get(), 1);
    }
    ::WaitForSingleObject(started_.process.get(), 5000);
    started_.process.Reset();
    started_.job.Reset();
  }

 private:
  Started started_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartWithOutput(const std::vector<std::string>& argv, OwnFile& output,
                                              StartResult& result) {
  result = StartResult::kCannotStart;
  const Handle input = NullDevice(GENERIC_READ);
  const Handle out = InheritableCopy(reinterpret_cast<HANDLE>(output.NativeHandle()));
  if (!input.valid() || !out.valid()) return nullptr;
  auto started = Spawn(argv, input.get(), out.get(), out.get(), result);
  if (!started) return nullptr;
  return std::make_unique<WindowsChild>(std::move(*started));
}

namespace {

// A pipe whose reading end stays here and whose writing end goes to a child.
struct Pipe {
  Handle read_end;
  Handle write_end;
};

std::optional<Pipe> ChildOutputPipe() {
  HANDLE pipe_read = nullptr;
  HANDLE pipe_write = nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!::CreatePipe(&pipe_read, &pipe_write, &inherit, 1 << 16)) return std::nullopt;
  Pipe pipe{Handle(pipe_read), Handle(pipe_write)};
  ::SetHandleInformation(pipe.read_end.get(), HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

// Appends what `pipe` holds now to `into`, up to `max` bytes in all (the rest read and dropped).
void Drain(HANDLE pipe, std::string& into, std::size_t max, std::vector<char>& buffer) {
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD got = 0;
    const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
    if (!::ReadFile(pipe, buffer.data(), want, &got, nullptr) || got == 0) break;
    into.append(buffer.data(), std::min<std::size_t>(max - std::min(max, into.size()), got));
  }
}

}  // namespace

RunResult RunAndWait(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  // Only the administrator's install feeds a program, and Windows has no such command.
  if (options.input) return result;
  const Handle input = NullDevice(GENERIC_READ);
  std::optional<Pipe> output;
  std::optional<Pipe> errors;
  if (options.collect_output && !(output = ChildOutputPipe())) return result;
  if (options.collect_errors && !(errors = ChildOutputPipe())) return result;
  Handle out = output ? std::move(output->write_end) : NullDevice(GENERIC_WRITE);
  Handle err =
      errors ? std::move(errors->write_end) : InheritableCopy(::GetStdHandle(STD_ERROR_HANDLE));
  if (!err.valid()) err = NullDevice(GENERIC_WRITE);
  if (!input.valid() || !out.valid() || !err.valid()) return result;

  StartResult started_as = StartResult::kCannotStart;
  auto started = Spawn(argv, input.get(), out.get(), err.get(), started_as);
  out.Reset();  // the child's copies are the only writers left: their ends end the pipes
  err.Reset();
  if (!started) return result;
  result.started = true;
  const HANDLE process = started->process.get();
  const ULONGLONG deadline =
      ::GetTickCount64() + static_cast<ULONGLONG>(std::max(options.timeout_ms, 0));
  const bool collecting = output || errors;
  std::vector<char> buffer(collecting ? 65536 : 0);
  bool ended = false;
  while (true) {
    // What the pipes hold now; the rest, once the program has ended.
    if (output) Drain(output->read_end.get(), result.output, options.max_output, buffer);
    if (errors) Drain(errors->read_end.get(), result.error_output, kMaxErrorOutput, buffer);
    if (ended) break;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      result.timed_out = true;
      break;
    }
    const ULONGLONG left = deadline - now;
    const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(left, collecting ? 10 : left));
    ended = ::WaitForSingleObject(process, wait) == WAIT_OBJECT_0;
  }
  if (result.timed_out) {
    WindowsChild(std::move(*started)).Kill();
    return result;
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(process, &code)) result.exit_code = static_cast<int>(code);
  return result;
}

// ---- The install lock ------------------------------------------------------------------------

namespace {

// The keys this process holds: a mutex is its holder's to take again, so a second lock of one
// folder from this process waits here instead, as it would for another process.
std::mutex held_keys_guard;
std::set<std::uint64_t> held_keys;

class FolderLock final : public InstanceLock {
 public:
  FolderLock(Handle mutex, std::uint64_t key) : mutex_(std::move(mutex)), key_(key) {}
  ~FolderLock() override {
    ::ReleaseMutex(mutex_.get());
    const std::lock_guard<std::mutex> guard(held_keys_guard);
    held_keys.erase(key_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  Handle mutex_;
  std::uint64_t key_;
};

bool ClaimKey(std::uint64_t key) {
  const std::lock_guard<std::mutex> guard(held_keys_guard);
  return held_keys.insert(key).second;
}

void DropKey(std::uint64_t key) {
  const std::lock_guard<std::mutex> guard(held_keys_guard);
  held_keys.erase(key);
}

}  // namespace

// A mutex in the global namespace, so that installs from every session of the machine over the
// one system hosts file take turns; named after a hash of the folder's full path. A process that
// dies holding it leaves it abandoned, which the next one takes as free.
std::string InstallLockFolder() { return {}; }

std::unique_ptr<InstanceLock> LockInstalls(const std::string& file, int wait_ms,
                                           const std::string& /*lock_folder*/) {
  const auto separator = file.find_last_of("\\/");
  std::string folder = separator == std::string::npos ? "." : file.substr(0, separator + 1);
  const auto wide = win32::Widen(folder);
  if (!wide) return nullptr;
  const DWORD size = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD got = size == 0 ? 0 : ::GetFullPathNameW(wide->c_str(), size, full.data(), nullptr);
  if (got == 0 || got >= size) return nullptr;
  full.resize(got);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  const std::uint64_t key = PathHash(full);
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\vellomar-install-%016llx",
                static_cast<unsigned long long>(key));
  Handle mutex(::CreateMutexW(nullptr, FALSE, name));
  if (!mutex.valid()) return nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(wait_ms, 0));
  while (!ClaimKey(key)) {
    if (::GetTickCount64() >= deadline) return nullptr;
    ::Sleep(50);
  }
  const ULONGLONG now = ::GetTickCount64();
  const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  const DWORD waited = ::WaitForSingleObject(mutex.get(), wait);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    DropKey(key);
    return nullptr;
  }
  return std::make_unique<FolderLock>(std::move(mutex), key);
}

// Windows has no hang-up signal; its resolvers reload through their own tools.
HangUpResult HangUpProgram(std::int64_t /*pid*/, std::string_view /*program*/) {
  return HangUpResult::kUnsupported;
}

}  // namespace vellomar::platform
