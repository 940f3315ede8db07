#pragma once
// The operating system as the program uses it. One implementation per OS (posix/, windows/),
// chosen by the build. Nothing here names a type of a particular OS.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar::platform {

// ---- Program identity -------------------------------------------------------------------

// Full path of the running program file.
std::string ProgramPath();
// Folder of the running program, without a trailing separator.
std::string ProgramFolder();
// File name of the running program without its extension ("vellomar").
std::string ProgramName();

// The separator between a folder and a name ('/' or '\\').
char PathSeparator();
// folder + separator + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The family of the running system; decides the native line end and the command lines of
// the system's tools.
enum class OsFamily { kWindows, kPosix };
OsFamily NativeOsFamily();

// ---- Files --------------------------------------------------------------------------------
//
// How paths are followed. On POSIX every function here that takes a path reaches its folder one
// name at a time from "/" and works on that folder's descriptor: a link is followed only where
// nobody but root or the program's user could have put it, and, when the program runs as root,
// every folder on the way must belong to root or to the program's user and be closed to others
// (a sticky folder such as /tmp excepted). A path that breaks the rule counts as one that cannot
// be reached. Windows decides access by its access lists and follows paths as the system does.

// The existence test: a non-empty path naming an ordinary file the user is meant to see
// (on Linux: a regular file, links followed, whose name does not start with ".").
bool FileExists(const std::string& path);

// True when the path names a folder (links followed).
bool FolderExists(const std::string& path);

// The largest file the program reads, writes or installs: 256 MiB, for the programs and the
// install helper alike. The largest public hosts lists are tens of MiB and a merge of several
// stays well below this; anything larger is refused before a byte is read, so that a huge or
// sparse file can neither hold the program up for minutes nor exhaust its memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{256} << 20;

// What became of reading a file. Every reader opens the path once, without blocking, and
// judges the open file, never the path a second time.
enum class ReadStatus {
  kOk,
  kMissing,       // nothing at the path (or a hidden name, for the existence-tested readers)
  kNotRegular,    // a folder, pipe, device, or a link where links were refused
  kTooLarge,      // longer than kMaxFileBytes, or no memory for it
  kUnreadable,    // the open or a read was refused (EACCES, EIO...)
  kChanged,       // the file changed length while it was read
  kNotPermitted,  // readable by this program, but not by the user it reads on behalf of
  kUnsafePath,    // reached through a folder or a link that other users can change (as root)
  kNotText,       // holds NUL bytes: no hosts file does
};

// Whether a reader follows a link at the path or refuses it.
enum class Links { kFollow, kRefuse };

// Why a folder is unsafe for a program running as root to read, create, append to or run files
// in.
enum class FolderSafety {
  kSafe,
  kMissing,        // no folder at the path (or it cannot be reached)
  kOpenToOthers,   // it or a folder above it is writable by group or others, without sticky bit
  kForeignOwner,   // it or a folder above it is owned by neither root nor the program's user
  kUntrustedLink,  // a link on the way lies where someone else could have planted it
};

// What the program needs to know about an open file or a folder.
struct FileFacts {
  std::uint64_t size = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t mode = 0;  // permission bits, 07777
  bool hidden = false;     // marked hidden or system (Windows; POSIX hides by a leading ".")
};

// A file opened for reading: non-blocking, close-on-exec, and checked through its descriptor
// to be a regular file of at most kMaxFileBytes. Move-only; closes on destruction.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`; `status` is kOk exactly when the result is open.
  static InputFile Open(const std::string& path, Links links, ReadStatus& status);

  bool IsOpen() const { return handle_ >= 0; }
  const FileFacts& Facts() const { return facts_; }
  // Up to `size` bytes from the current position: the count read, 0 at the end, -1 on error.
  std::int64_t Read(char* into, std::size_t size);
  // Goes back to the start of the file, so that it can be read through again; false on error.
  bool Rewind();
  // The whole file into `out` (its storage reused): kOk, kChanged when the file does not hold
  // exactly Facts().size bytes at the end of the read, kUnreadable, or kTooLarge.
  ReadStatus ReadAll(std::string& out);

 private:
  std::intptr_t handle_ = -1;
  FileFacts facts_;
};

// The whole file at `path` (a link at its name refused) into `out`, as InputFile::ReadAll reads
// it. For the platform's own copies; the program reads through support::ReadWholeFile.
ReadStatus ReadFileWhole(const std::string& path, std::string& out);

// The names of the entries in `folder` ("." and ".." left out), in the order the system gives
// them and spelled as the file functions of this layer take them back; nullopt when the folder
// cannot be listed. On Windows that spelling is the ANSI code page: a name it cannot spell is
// left out.
std::optional<std::vector<std::string>> ListFolder(const std::string& folder);

// `path` with every link and "." or ".." resolved; nullopt when it names nothing.
std::optional<std::string> ResolvePath(const std::string& path);

// The facts of the folder at `path` (links followed); nullopt when it is not a folder.
std::optional<FileFacts> FolderFacts(const std::string& path);
// The effective user id of the program. Windows has no such number and no user who passes
// every access check as root does: there it is one fixed id, never 0, so that the rules for a
// program running as root stay POSIX's.
std::uint32_t EffectiveUser();

// The rule: every folder from `path` up to "/" (links resolved) must be owned by root or by
// the effective user, and must not be writable by group or others unless its sticky bit is
// set (as /tmp). Otherwise someone else can swap or plant entries under the program. On Windows
// the access lists are not judged: an existing folder is kSafe.
FolderSafety CheckFolderSafety(const std::string& path);

// How `path` is reached under the rule above (a link at its last name followed; a folder at the
// end judged too): kSafe, or why the program's file functions will not reach it. kMissing
// when a folder on the way is missing. Windows: kSafe for an existing folder.
FolderSafety CheckPathSafety(const std::string& path);

// The first candidate that passes the existence test, or empty text when none does.
std::string FirstExisting(const std::vector<std::string>& candidates);

// Candidates probed at start-up for the system paths, in order.
std::vector<std::string> HostsCandidates();
std::vector<std::string> EditorCandidates();
std::vector<std::string> ResolverToolCandidates();

// Protective marks of a file that keep it from being written or replaced. Opaque outside
// the implementation; `Clear` returns what was set so that `Restore` can put it back.
struct Protection {
  std::uint32_t flags = 0;  // OS-specific marks that were set (immutable, append-only...)
  bool added_owner_write = false;
};

// Sets a file's attributes to normal: clears the marks that stop writing (immutable and
// append-only flags, missing owner write bit). Returns the marks it removed, or nullopt when
// the file could not be examined.
std::optional<Protection> SetAttributesNormal(const std::string& path);
// Sets again on `path` the marks that `SetAttributesNormal` removed (the owner write bit is
// left as it is); marks of any other kind are never set. Returns false when a mark could not be
// set.
bool RestoreProtection(const std::string& path, const Protection& removed);
// True when `marks` holds only marks that SetAttributesNormal clears: what a note of cleared
// marks may ask to be put back.
bool IsRestorableProtection(const Protection& marks);

// Appends `bytes` to the regular file at `path`, creating it (mode 0666 less the umask)
// when missing; never through a link, never blocking on a pipe. True when all
// bytes were written.
bool AppendToLog(const std::string& path, std::string_view bytes);

// Removes whatever entry is at `path` (a link itself, a pipe, a file) without looking at what
// it points to. A folder is not removed.
enum class RemoveResult { kRemoved, kAbsent, kFailed };
[[nodiscard]] RemoveResult RemoveEntry(const std::string& path);

// A file this program has just created, used only through its descriptor: another process
// that swaps the path afterwards changes nothing that is written or read here.
class OwnFile {
 public:
  virtual ~OwnFile() = default;
  // Appends bytes at the end; false when they did not all reach the file.
  [[nodiscard]] virtual bool Append(std::string_view bytes) = 0;
  // The whole content (at most kMaxFileBytes).
  [[nodiscard]] virtual ReadStatus ReadAll(std::string& out) = 0;
  // The OS descriptor, for handing to a child process.
  virtual std::intptr_t NativeHandle() const = 0;
};
// Creates `path` exclusively, never through a link, readable and writable by its owner only,
// opened for reading and appending. nullptr when anything is at the path or the folder takes
// no new file.
std::unique_ptr<OwnFile> CreateOwnFile(const std::string& path);

// Removes the temporary files (".<name>.new-<pid>-<n>") that CreateReplacementFile made for
// `target` and whose writing process has ended: leftovers of a run that was killed. Returns
// how many were removed.
int RemoveStaleReplacements(const std::string& target);

// A new file written beside a target file and put in its place only when complete and on
// disk, so that the target never holds a partial file.
class ReplacementFile {
 public:
  enum class CommitResult {
    kReplaced,      // the target now holds the new file
    kWriteFailed,   // a write or the flush to disk failed; the target is unchanged
    kTargetBusy,    // the target cannot be renamed over (a mount point: EBUSY, EXDEV)
    kRenameFailed,  // any other refusal to rename; the target is unchanged
  };

  // Removes the temporary file unless it was committed.
  virtual ~ReplacementFile() = default;
  // Appends bytes; false once any write has failed.
  virtual bool Write(std::string_view bytes) = 0;
  // Cuts the file back to its first `size` bytes, which later writes follow; false (and every
  // later call false) when it could not be cut.
  virtual bool Truncate(std::uint64_t size) = 0;
  // Flushes what was written to disk ahead of Commit, so that the commit itself is quick; false
  // once any write or flush has failed.
  virtual bool Sync() = 0;
  // Flushes the file to disk and renames it over the target. Call once.
  virtual CommitResult Commit() = 0;
};

// Creates the temporary file in the target's folder, exclusively and without following links;
// its name carries this process's id, so that RemoveStaleReplacements knows its writer. When
// `like` names an existing file, the new file takes its owner, group and mode; otherwise it is
// readable by all and writable by its owner, as the umask allows. nullptr when the folder
// takes no new file, or when the owner or mode of `like` cannot be given to it.
std::unique_ptr<ReplacementFile> CreateReplacementFile(const std::string& target,
                                                       const std::string& like = {});

// ---- Processes and shell ------------------------------------------------------------------

// How a started program's window should appear; a hint where the OS has windows styles.
enum class WindowStyle : int {
  kNormalFocus = 1,
  kMinimizedFocus = 2,
  kMinimizedNoFocus = 6,
};

// A child process started with its output going to a file. Never waited for by blocking.
class ChildProcess {
 public:
  // Kills and reaps the child if it still runs.
  virtual ~ChildProcess() = default;
  // True once the child has ended; reaps it. Never blocks.
  virtual bool HasEnded() = 0;
  // Ends the child and every process it started, and reaps it.
  virtual void Kill() = 0;
};

enum class StartResult { kStarted, kProgramMissing, kCannotStart };

// Starts argv[0] (a full path; nothing is looked up, no shell) with argv[1..], its standard
// input from the null device and its standard output and error appended to `output`, in a
// process group of its own. nullptr, with `result` saying why, when it did not start.
std::unique_ptr<ChildProcess> StartWithOutput(const std::vector<std::string>& argv, OwnFile& output,
                                              StartResult& result);

struct RunResult;

// Starts programs and asks the desktop shell to open things, never waiting for either.
// Tests replace it with a recorder.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts argv[0] with the arguments argv[1..]; a program without a folder is looked for in
  // the system's program folders only (on POSIX /usr/sbin, /usr/bin, /sbin, /bin), never
  // through PATH. `working_folder` empty means the program's own.
  virtual bool Start(const std::vector<std::string>& argv, WindowStyle style,
                     const std::string& working_folder = {}) = 0;
  // Opens a file, folder or web address with its associated program.
  virtual bool ShellOpen(const std::string& target) = 0;
  // As the free function StartWithOutput, which the real launcher uses.
  virtual std::unique_ptr<ChildProcess> StartWithOutput(const std::vector<std::string>& argv,
                                                        OwnFile& output, StartResult& result) {
    return platform::StartWithOutput(argv, output, result);
  }
  // Runs the administrator's install command (PrivilegedInstallCommand), hands it the bytes to
  // install and waits for it; a window keeps drawing meanwhile. On POSIX pkexec runs the helper
  // with the bytes on its standard input, and its standard error is the result's error_output.
  // On Windows the helper is started elevated (one consent prompt) and the bytes and its log
  // lines go through a pipe of this program's (see OpenHelperChannel); the log lines are the
  // result's error_output, and a prompt the user turned down is `declined`.
  virtual RunResult RunPrivileged(const std::vector<std::string>& argv, std::string_view input);
};

// The launcher of the real system.
std::unique_ptr<Launcher> CreateSystemLauncher();

// How a program that was waited for ended.
struct RunResult {
  bool started = false;      // the program could be run at all
  bool timed_out = false;    // it was killed when its time was up
  int exit_code = -1;        // its exit status; -1 when it did not end by exiting
  std::string output;        // its standard output, when collected, cut at max_output
  std::string error_output;  // its standard error, when collected, cut at kMaxErrorOutput
  // Not started because the user turned down the request for administrator rights (Windows'
  // consent prompt was cancelled); pkexec says the same with its own exit status instead.
  bool declined = false;
};

// A launcher that hands every call to `inner`: the base of a front end's launcher that changes
// only how it waits (the windows keep drawing while the administrator's install runs).
class ForwardingLauncher : public Launcher {
 public:
  explicit ForwardingLauncher(std::unique_ptr<Launcher> inner) : inner_(std::move(inner)) {}
  bool Start(const std::vector<std::string>& argv, WindowStyle style,
             const std::string& working_folder) override {
    return inner_->Start(argv, style, working_folder);
  }
  bool ShellOpen(const std::string& target) override { return inner_->ShellOpen(target); }
  std::unique_ptr<ChildProcess> StartWithOutput(const std::vector<std::string>& argv,
                                                OwnFile& output, StartResult& result) override {
    return inner_->StartWithOutput(argv, output, result);
  }
  RunResult RunPrivileged(const std::vector<std::string>& argv, std::string_view input) override {
    return inner_->RunPrivileged(argv, input);
  }

 private:
  std::unique_ptr<Launcher> inner_;
};

inline constexpr std::size_t kMaxErrorOutput = std::size_t{64} << 10;

// What a program that is waited for gets, and what is kept of what it says.
struct RunOptions {
  int timeout_ms = 60000;
  // Fed on its standard input, which otherwise reads the null device.
  std::optional<std::string_view> input;
  // Its standard output is collected up to `max_output` bytes (the rest read and dropped);
  // otherwise it goes to the null device.
  bool collect_output = false;
  std::size_t max_output = 0;
  // Its standard error is collected; otherwise it goes where this program's goes.
  bool collect_errors = false;
};

// Runs argv[0], a full path that is never searched for, with the arguments argv[1..] as
// `options` say, and waits at most options.timeout_ms for it to end, killing it then. On
// Windows, input is not fed: the install helper, the one program fed, takes its bytes through a
// pipe there.
RunResult RunAndWait(const std::vector<std::string>& argv, const RunOptions& options);

// What became of asking a running program to read its files again.
enum class HangUpResult {
  kSent,            // the signal went to the process
  kNoProcess,       // no process has that id
  kNotThatProgram,  // the process with that id is another program
  kRefused,         // the system refused to send it
  kUnsupported,     // the system has no such signal (Windows)
};

// Sends SIGHUP to process `pid` when it runs the program named `program` (its file name, as
// the system records it), so that a stale pid file cannot make it reach another process. POSIX
// only; Windows answers kUnsupported.
HangUpResult HangUpProgram(std::int64_t pid, std::string_view program);

// ---- HTTP ----------------------------------------------------------------------------------
//
// One GET of a list from the web: libcurl on POSIX, WinHTTP on Windows. Only http:// and
// https:// addresses are taken; certificates are verified against the system's store (and the
// request's own authorities, when it names any); a redirect from https to http is refused.

struct HttpRequest {
  std::string url;
  // The validators of the last good reply; empty ones are not sent.
  std::string if_none_match;      // its ETag, sent as If-None-Match
  std::string if_modified_since;  // its Last-Modified, sent as If-Modified-Since
  int timeout_ms = 30000;         // the whole exchange, redirects included
  int max_redirects = 5;          // a further redirect fails as kTooManyRedirects
  // PEM certificates of authorities trusted besides the system's (a private CA); the caller
  // reads them through its own checked reader, so that no path is opened here.
  std::string extra_authorities;
};

// Why a request ended without a reply to judge.
enum class HttpFailure {
  kNone,              // a reply came: see its status
  kBadUrl,            // not an http:// or https:// address that can be requested
  kCannotConnect,     // the name does not resolve, or the server cannot be reached
  kTimedOut,          // no complete answer within the time-out
  kCertificate,       // the server's certificate does not verify
  kInsecureRedirect,  // a redirect from https to http
  kTooManyRedirects,  // more redirects than the request allows
  kStopped,           // the body sink asked to stop
  kBroken,            // any other failure: a reply cut short, a body that does not decode...
};

struct HttpReply {
  HttpFailure failure = HttpFailure::kNone;
  int status = 0;  // the status of the final reply (after redirects)
  // Headers of the final reply; empty when it had none.
  std::string etag;
  std::string last_modified;
  std::string content_type;
  std::string detail;  // the library's or the system's own words on a failure, for the user
};

// Receives the body of a status-200 reply as it arrives, decoded (a compressed transfer is
// undone before it gets here, so that the caller counts the real bytes); returning false stops
// the transfer, which then ends as kStopped. Bodies of other statuses are not handed over.
using HttpBodySink = std::function<bool(std::string_view chunk)>;

// Sends one GET as `request` says and waits for the answer, at most request.timeout_ms.
HttpReply HttpGet(const HttpRequest& request, const HttpBodySink& sink);

// ---- Rights and instances -----------------------------------------------------------------

// True when the program runs with the rights needed to write the system hosts file.
bool IsUserAnAdmin();

// Held for the life of the running instance; released when destroyed.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// The outcome of asking for the single-instance lock.
struct LockResult {
  enum class Kind {
    kTaken,        // this instance holds the lock
    kHeldByOther,  // another running instance of the same program file holds it
    kUnavailable,  // no lock could be had for another reason; run as the single instance
  };
  Kind kind = Kind::kUnavailable;
  std::unique_ptr<InstanceLock> lock;  // set for kTaken
  std::string reason;                  // for kUnavailable: what went wrong, for the user
};

// Takes the lock keyed by `program_path` and the effective user, in $XDG_RUNTIME_DIR when it
// is a private folder of the user, else in "vellomar-<uid>" under $TMPDIR (or /tmp), a folder
// of mode 0700 created and checked to be the user's own folder and not a link.
LockResult TakeInstanceLock(const std::string& program_path);

// The folder of the install locks: /run/vellomar for root, else the user's private folder for
// locks ($XDG_RUNTIME_DIR, or vellomar-<uid> under the temporary folder). Empty when there is
// none.
std::string InstallLockFolder();

// Takes the lock of installs over `hosts_file`, so that two of them never interleave, waiting
// up to `wait_ms` while another process holds it; nullptr when it cannot be had in that time.
// The lock is a file in `lock_folder` (default InstallLockFolder(), made when missing), which
// must be the program user's own and closed to everyone else: nobody else can open the lock,
// so nobody else can hold up an install. On Windows: a global mutex named after the hosts
// file's folder.
std::unique_ptr<InstanceLock> LockInstalls(const std::string& hosts_file, int wait_ms,
                                           const std::string& lock_folder = {});

}  // namespace vellomar::platform

// ---- Rewriting a file in place ------------------------------------------------------------
// For a file that cannot be replaced by renaming (a mount point, or a folder that takes no
// new file). Every failure the system reports is undone, but unlike a rename the rewrite is
// not proof against the process being killed between its writes.

namespace vellomar::platform {

enum class InPlaceResult {
  kRewritten,  // the file holds the new bytes, flushed to disk and read back equal
  kNotOpened,  // the file could not be opened for reading and writing; it is untouched
  kKeptOld,    // a step failed; the file holds its old bytes (put back if writing had begun)
  kDamaged,    // a step failed after writing began and the old bytes could not be put back
};

// Rewrites the file at `path` (links not followed) to hold exactly `bytes`: reserves the space,
// writes, cuts the file to length, flushes it to disk and reads it back. A failure after the
// first byte is written puts the old bytes back.
InPlaceResult RewriteInPlace(const std::string& path, std::string_view bytes);

// The marks SetAttributesNormal would remove from `path`, without removing them; nullopt when
// the file could not be examined.
std::optional<Protection> ProtectionOf(const std::string& path);

// Takes away again the owner write bit that `SetAttributesNormal` added, if it added one.
// Call before `RestoreProtection`: an immutable file's mode cannot be changed. False when the
// bit could not be taken away.
bool RestoreOwnerWrite(const std::string& path, const Protection& removed);

}  // namespace vellomar::platform

// ---- The user's data folder and the administrator's install -------------------------------

namespace vellomar::platform {

// Why nothing is written in the program folder.
enum class FolderProblem {
  kNone,
  kUnsafe,            // running as root, other users can change it (or a folder above it)
  kUnnamed,           // the program's own folder cannot be named
  kNoHome,            // the program folder is read-only and there is no home for a data folder
  kCannotCreate,      // the data folder could not be made
  kSamplesNotCopied,  // the data folder was made, but the samples could not all be copied
};

// Where the program keeps its files, and what went wrong on the way there.
struct ProgramFolderChoice {
  std::string folder;  // without a trailing separator
  FolderProblem problem = FolderProblem::kNone;
  std::string problem_folder;  // the folder the problem is about
  std::string reason;          // the system's own words, where it gave any
  bool seeded = false;         // Hostfiles was made here just now, from the samples
};

// The base of the user's data folders: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share. Either is taken only when the folder above it belongs to the effective
// user (so root started with another user's HOME never writes there); otherwise the home
// folder of the user database. Empty when there is none.
std::string UserDataHome();

// The program folder: `program_folder` itself when the user can write there and it is not an
// installed program's folder (one with <program folder>/../share/vellomar/Hostfiles beside it);
// otherwise <data_home>/vellomar, created (mode 0700) when missing. A missing Hostfiles folder
// there is seeded with the sample sources (the installed ones, else those beside the program);
// an existing one is never touched.
ProgramFolderChoice ChooseProgramFolder(const std::string& program_folder,
                                        const std::string& data_home);

// Root's program folder, for --system and the update service: /var/lib/vellomar on POSIX; empty
// where there is none (Windows).
std::string SystemFolder();

// The system folder `folder` (SystemFolder(), or a test's): when missing and the program runs
// as root, created (mode 0755) and seeded as ChooseProgramFolder seeds a data folder, from the
// samples of the programs in `program_folder`. kCannotCreate when it is missing and cannot be
// made (or the program is not root); kUnsafe when others can change it.
ProgramFolderChoice ChooseSystemFolder(const std::string& folder,
                                       const std::string& program_folder);

// A folder of this user's own that nobody else may enter, for files that must not be left in
// the program folder (made when missing): $XDG_RUNTIME_DIR or vellomar-<uid> under the temporary
// folder, /run/vellomar for root; on Windows the user's temporary folder. Empty when there is
// none.
std::string PrivateFolder();

// What an installed program ships beside itself, relative to its folder (<prefix>/bin).
// kInstalledHelper and kInstalledAction are the POSIX layout; InstallHelperPath names the
// helper on every system.
inline constexpr const char* kInstalledSamples = "../share/vellomar/Hostfiles";
inline constexpr const char* kInstalledHelper = "../libexec/vellomar/vellomar-install-helper";
inline constexpr const char* kInstalledAction =
    "../share/polkit-1/actions/org.vellomar.hosts.install.policy";

// Where the install helper of the programs in `program_folder` lies: on POSIX
// <folder>/kInstalledHelper; on Windows vellomar-install-helper.exe in the folder itself, as
// both an installed program (its bin folder) and a development build lay it out.
std::string InstallHelperPath(const std::string& program_folder);

// The machine's host name; empty when it cannot be had.
std::string HostName();

// The command that runs `helper` as the administrator, for Launcher::RunPrivileged.
// POSIX, through polkit: `pkexec` (never looked up in PATH) and the helper's resolved path (the
// one the action names). Empty when pkexec, the helper or the polkit action file at
// `action_file` is missing, or when pkexec or the helper could be changed by anyone but root
// (not root's, writable by others, or in a folder that is not root's own all the way up).
// Windows, through the consent prompt: the helper's full path alone, when it is a file there
// (`action_file` and `pkexec` are not used). A program running as root has no use for it.
inline constexpr const char* kPkexec = "/usr/bin/pkexec";
std::vector<std::string> PrivilegedInstallCommand(const std::string& helper,
                                                  const std::string& action_file,
                                                  const std::string& pkexec = kPkexec);

// The install helper's side of Launcher::RunPrivileged: how it takes the bytes to install
// from its caller and hands back its log lines.
// POSIX: the helper takes no argument; the bytes are its standard input to the end, the log
// lines go to its standard error.
// Windows: the one argument names the caller's pipe, \\.\pipe\vellomar-install-<pid>-<random>
// (<random>: 32 hex digits), whose server must be process <pid>. Through it come
// kHelperLengthBytes (the length of the bytes, little endian), then the bytes; back go the log
// lines, and the helper closes it when it is done.
class HelperChannel {
 public:
  virtual ~HelperChannel() = default;
  // The bytes to install, at most `max`: kOk; kTooLarge when there are more (not read);
  // kUnreadable when they cannot be read whole (a frame cut short, a read that failed).
  virtual ReadStatus ReadInput(std::string& out, std::size_t max) = 0;
  // Sends one log text as a line; false when it did not reach the caller.
  virtual bool WriteLine(std::string_view text) = 0;
};
inline constexpr std::size_t kHelperLengthBytes = 8;
// The channel of the helper started with `arguments` (argv[1..]); nullptr when they are not
// the ones its caller gives, or (Windows) the pipe they name cannot be reached.
std::unique_ptr<HelperChannel> OpenHelperChannel(const std::vector<std::string>& arguments);
// How the helper is called, for its message when OpenHelperChannel refuses.
std::string_view HelperUsage();

}  // namespace vellomar::platform
