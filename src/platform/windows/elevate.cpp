// The administrator's install on Windows. The programs run with the user's own rights; an
// install over the system hosts file starts vellomar-install-helper.exe elevated (the one
// consent prompt of the shell's "runas" verb) and hands it the bytes through a pipe this
// program creates: never a file that another program of the user could change in between.
//
// The pipe: \\.\pipe\vellomar-install-<pid>-<random>, one instance, created first (an existing
// pipe of that name fails the run), local clients only, and open to this user (the same user
// elevated) and to elevated administrators alone (a standard user's helper runs as the
// administrator who gave the password). The helper checks that the pipe's server is <pid>, and
// connects at identification level only, so that this side can never act as the helper.
#include "platform/windows/win32.h"
// clang-format off
#include <objbase.h>
#include <shellapi.h>
#include <sddl.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

using win32::Handle;

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\vellomar-install-";
constexpr std::size_t kRandomDigits = 32;
// A consent prompt answered, the helper connects at once; a slow start (a virus scan of the
// helper) is waited for, one that never connects or never ends is not.
constexpr ULONGLONG kPrivilegedWaitMs = 10 * 60 * 1000;
// The pieces the bytes are written in, each waited for against the deadline.
constexpr DWORD kPipeBuffer = 64 << 10;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The pid in a pipe name of exactly the form the caller makes; nullopt for any other text.
std::optional<DWORD> PipeServerOf(std::string_view name) {
  if (name.substr(0, kPipePrefix.size()) != kPipePrefix) return std::nullopt;
  name.remove_prefix(kPipePrefix.size());
  const auto dash = name.find('-');
  if (dash == 0 || dash > 10 || dash == std::string_view::npos ||
      name.size() != dash + 1 + kRandomDigits ||
      !std::all_of(name.begin(), name.begin() + dash, IsDigit) ||
      !std::all_of(name.begin() + dash + 1, name.end(), IsHex)) {
    return std::nullopt;
  }
  std::uint64_t pid = 0;
  for (const char c : name.substr(0, dash)) pid = pid * 10 + static_cast<unsigned>(c - '0');
  if (pid == 0 || pid > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<DWORD>(pid);
}

// A fresh pipe name for this process; nullopt when the system gives no random bytes.
std::optional<std::string> NewPipeName() {
  unsigned char random[kRandomDigits / 2];
  if (!BCRYPT_SUCCESS(
          ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  std::string name = std::string(kPipePrefix) + std::to_string(::GetCurrentProcessId()) + "-";
  for (const unsigned char byte : random) {
    name += "0123456789abcdef"[byte >> 4];
    name += "0123456789abcdef"[byte & 15];
  }
  return name;
}

// The access list of the pipe, in the system's notation: read and write for this process's user
// and for the Administrators group (which a token that was not elevated holds for denying
// only), nothing for anybody else, nothing inherited.
std::optional<std::wstring> PipeAccess() {
  Handle token;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::nullopt;
  token = Handle(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return std::nullopt;
  }
  wchar_t* sid = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    return std::nullopt;
  }
  std::wstring access = L"D:P(A;;GRGW;;;" + std::wstring(sid) + L")(A;;GRGW;;;BA)";
  ::LocalFree(sid);
  return access;
}

// Creates the caller's end of the pipe: duplex, overlapped, the first and only instance.
Handle CreateInstallPipe(const std::wstring& name) {
  const auto access = PipeAccess();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!access || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                     access->c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return Handle();
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  Handle pipe(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBuffer,
      kPipeBuffer, 0, &attributes));
  ::LocalFree(descriptor);
  return pipe;
}

// One overlapped operation on the pipe, waited for until the deadline, and (for the connection,
// which nothing else would end) until the helper ends.
enum class Io { kDone, kFailed, kHelperEnded, kTimedOut };

class PipeIo {
 public:
  PipeIo(HANDLE pipe, ULONGLONG deadline)
      : pipe_(pipe), deadline_(deadline), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool Ready() const { return event_.valid(); }
  DWORD LastError() const { return error_; }

  Io Connect(HANDLE process) {
    OVERLAPPED overlapped = Fresh();
    if (::ConnectNamedPipe(pipe_, &overlapped)) return Io::kDone;
    if (::GetLastError() == ERROR_PIPE_CONNECTED) return Io::kDone;
    DWORD ignored = 0;
    return Finish(overlapped, process, ignored);
  }
  Io Write(const char* data, DWORD size, DWORD& done) {
    OVERLAPPED overlapped = Fresh();
    if (::WriteFile(pipe_, data, size, nullptr, &overlapped)) {
      return ::GetOverlappedResult(pipe_, &overlapped, &done, TRUE) ? Io::kDone : Failed();
    }
    return Finish(overlapped, nullptr, done);
  }
  Io Read(char* data, DWORD size, DWORD& done) {
    OVERLAPPED overlapped = Fresh();
    if (::ReadFile(pipe_, data, size, nullptr, &overlapped)) {
      return ::GetOverlappedResult(pipe_, &overlapped, &done, TRUE) ? Io::kDone : Failed();
    }
    return Finish(overlapped, nullptr, done);
  }

 private:
  OVERLAPPED Fresh() {
    ::ResetEvent(event_.get());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    return overlapped;
  }
  Io Failed() {
    error_ = ::GetLastError();
    return Io::kFailed;
  }
  Io Finish(OVERLAPPED& overlapped, HANDLE process, DWORD& done) {
    if (::GetLastError() != ERROR_IO_PENDING) return Failed();
    const HANDLE handles[2] = {event_.get(), process};
    const ULONGLONG now = ::GetTickCount64();
    const DWORD wait = now >= deadline_ ? 0 : static_cast<DWORD>(deadline_ - now);
    const DWORD woken = ::WaitForMultipleObjects(process ? 2 : 1, handles, FALSE, wait);
    if (woken == WAIT_OBJECT_0) {
      return ::GetOverlappedResult(pipe_, &overlapped, &done, FALSE) ? Io::kDone : Failed();
    }
    // The operation must be over before `overlapped` goes away.
    ::CancelIoEx(pipe_, &overlapped);
    ::GetOverlappedResult(pipe_, &overlapped, &done, TRUE);
    return woken == WAIT_OBJECT_0 + 1 ? Io::kHelperEnded : Io::kTimedOut;
  }

  HANDLE pipe_;
  ULONGLONG deadline_;
  Handle event_;
  DWORD error_ = 0;
};

// Starts `helper` elevated with `argument`; the process, or why not: `declined` when the user
// turned the consent prompt down.
Handle StartElevated(const std::wstring& helper, const std::wstring& argument, bool& declined) {
  // The shell may hand the request to a COM server; it needs COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // Returns once the prompt is answered and the process made; no message box of its own.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = helper.c_str();
  info.lpParameters = argument.c_str();
  info.nShow = SW_HIDE;  // the helper is a console program with nothing to show
  const bool ok = ::ShellExecuteExW(&info) != 0;
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  declined = !ok && error == ERROR_CANCELLED;
  return ok ? Handle(info.hProcess) : Handle();
}

// "C:\..." or "\\server\...": a path that names one place whatever the current folder is.
bool IsFullPath(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return true;
  return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && path[0] == path[1];
}

}  // namespace

std::string InstallHelperPath(const std::string& program_folder) {
  return JoinPath(program_folder, "vellomar-install-helper.exe");
}

std::vector<std::string> PrivilegedInstallCommand(const std::string& helper,
                                                  const std::string& /*action_file*/,
                                                  const std::string& /*pkexec*/) {
  if (!IsFullPath(helper) || !FileExists(helper)) return {};
  return {helper};
}

RunResult Launcher::RunPrivileged(const std::vector<std::string>& argv, std::string_view input) {
  RunResult result;
  const auto helper = argv.size() == 1 && IsFullPath(argv[0]) && FileExists(argv[0])
                          ? win32::Widen(argv[0])
                          : std::nullopt;
  const auto name = NewPipeName();
  const auto wide_name = name ? win32::Widen(*name) : std::nullopt;
  if (!helper || !wide_name) return result;
  const Handle pipe = CreateInstallPipe(*wide_name);
  if (!pipe.valid()) return result;
  const Handle process = StartElevated(*helper, *wide_name, result.declined);
  if (!process.valid()) return result;
  result.started = true;

  const ULONGLONG deadline = ::GetTickCount64() + kPrivilegedWaitMs;
  PipeIo io(pipe.get(), deadline);
  Io state = io.Ready() ? io.Connect(process.get()) : Io::kFailed;
  if (state == Io::kDone) {
    // The length, then the bytes. A helper that refuses them ends without reading on, which
    // fails the writing; its status says why.
    char length[kHelperLengthBytes];
    for (std::size_t i = 0; i < kHelperLengthBytes; ++i) {
      length[i] = static_cast<char>((static_cast<std::uint64_t>(input.size()) >> (8 * i)) & 0xFF);
    }
    for (std::string_view part : {std::string_view(length, sizeof length), input}) {
      while (!part.empty() && state == Io::kDone) {
        DWORD done = 0;
        state = io.Write(part.data(),
                         static_cast<DWORD>(std::min<std::size_t>(part.size(), kPipeBuffer)), done);
        part.remove_prefix(std::min<std::size_t>(done, part.size()));
      }
    }
    // The log lines, until the helper closes its end (a broken pipe, here).
    if (state != Io::kTimedOut) state = Io::kDone;
    std::vector<char> buffer(kPipeBuffer);
    while (state == Io::kDone) {
      DWORD got = 0;
      state = io.Read(buffer.data(), kPipeBuffer, got);
      const std::size_t room =
          kMaxErrorOutput - std::min(kMaxErrorOutput, result.error_output.size());
      result.error_output.append(buffer.data(), std::min<std::size_t>(room, got));
    }
    // Whatever went wrong on this side, the helper's writes now fail instead of waiting.
    ::DisconnectNamedPipe(pipe.get());
  }
  // The helper's end, within what is left of the time.
  const ULONGLONG now = ::GetTickCount64();
  const DWORD left =
      state == Io::kTimedOut || now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  if (::WaitForSingleObject(process.get(), left) != WAIT_OBJECT_0) {
    result.timed_out = true;
    // This side may not be let end an elevated process; nothing then waits for it any more.
    ::TerminateProcess(process.get(), 1);
    return result;
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code)) result.exit_code = static_cast<int>(code);
  return result;
}

// ---- The helper's side --------------------------------------------------------------------

namespace {

class PipeChannel final : public HelperChannel {
 public:
  explicit PipeChannel(Handle pipe) : pipe_(std::move(pipe)) {}
  // Everything written reaches the caller before the pipe closes.
  ~PipeChannel() override { ::FlushFileBuffers(pipe_.get()); }
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  ReadStatus ReadInput(std::string& out, std::size_t max) override {
    out.clear();
    unsigned char length[kHelperLengthBytes];
    if (!win32::ReadExactly(pipe_.get(), reinterpret_cast<char*>(length), sizeof length)) {
      return ReadStatus::kUnreadable;
    }
    std::uint64_t size = 0;
    for (std::size_t i = kHelperLengthBytes; i-- > 0;) size = (size << 8) | length[i];
    if (size > max) return ReadStatus::kTooLarge;
    out.resize(static_cast<std::size_t>(size));
    return win32::ReadExactly(pipe_.get(), out.data(), out.size()) ? ReadStatus::kOk
                                                                   : ReadStatus::kUnreadable;
  }

  bool WriteLine(std::string_view text) override {
    return win32::WriteAll(pipe_.get(), std::string(text) + "\n");
  }

 private:
  Handle pipe_;
};

}  // namespace

std::unique_ptr<HelperChannel> OpenHelperChannel(const std::vector<std::string>& arguments) {
  const auto server = arguments.size() == 1 ? PipeServerOf(arguments[0]) : std::nullopt;
  const auto name = server ? win32::Widen(arguments[0]) : std::nullopt;
  if (!name) return nullptr;
  // At identification level: the caller may learn who connected, never act as this process.
  Handle pipe(::CreateFileW(name->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  ULONG pid = 0;
  if (!pipe.valid() || !::GetNamedPipeServerProcessId(pipe.get(), &pid) || pid != *server) {
    return nullptr;
  }
  return std::make_unique<PipeChannel>(std::move(pipe));
}

std::string_view HelperUsage() {
  return "vellomar-install-helper is started by vellomar to install the hosts file; it takes the "
         "name of its caller's pipe as its only argument";
}

}  // namespace vellomar::platform
