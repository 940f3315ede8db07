#pragma once
// The operating system as the program uses it. One implementation per OS (posix/, windows/),
// chosen by the build. Nothing here names a type of a particular OS.

#include <cstdint>
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

// The family of the running system; decides the native line end and command dialect.
enum class OsFamily { kWindows, kPosix };
OsFamily NativeOsFamily();

// ---- Files --------------------------------------------------------------------------------

// The existence test: a non-empty path naming an ordinary file the user is meant to see
// (on Linux: a regular file, links followed, whose name does not start with ".").
bool FileExists(const std::string& path);

// True when the path names a folder (links followed).
bool FolderExists(const std::string& path);

// True when the ordinary file at `path` (links followed) can be opened for reading now.
bool CanReadFile(const std::string& path);

// Replaces `out` with the whole content of the ordinary file at `path` (links followed), read
// straight into `out`'s storage, which keeps its capacity. False, with `out` empty, when the
// file cannot be opened, is not an ordinary file, or holds more or fewer bytes at the end of
// the read than its length said at the start. No existence test: callers make their own.
bool ReadFileInto(const std::string& path, std::string& out);

// The first candidate that passes the existence test, or empty text when none does.
std::string FirstExisting(const std::vector<std::string>& candidates);

// Candidates probed at start-up for the system paths, in order.
std::vector<std::string> HostsCandidates();
std::vector<std::string> NotepadCandidates();
std::vector<std::string> IpconfigCandidates();

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
// left as it is). Returns false when a mark could not be set.
bool RestoreProtection(const std::string& path, const Protection& removed);

// Deletes a file. True when it is gone afterwards (also when it was never there).
bool DeleteFile(const std::string& path);

// Creates a new file exclusively (failing when anything exists at the path, links included),
// readable, writable and runnable by its owner only, and writes `bytes` to it.
bool CreatePrivateScript(const std::string& path, const std::string& bytes);

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
  // Flushes the file to disk and renames it over the target. Call once.
  virtual CommitResult Commit() = 0;
};

// Creates the temporary file in the target's folder, exclusively and without following links.
// When `like` names an existing file, the new file takes its owner, group and mode; otherwise
// it is readable by all and writable by its owner, as the umask allows. nullptr when the
// folder takes no new file.
std::unique_ptr<ReplacementFile> CreateReplacementFile(const std::string& target,
                                                       const std::string& like = {});

// ---- Processes and shell ------------------------------------------------------------------

// How a started program's window should appear; a hint where the OS has windows styles.
enum class WindowStyle : int {
  kNormalFocus = 1,
  kMinimizedFocus = 2,
  kMinimizedNoFocus = 6,
};

// Starts programs and asks the desktop shell to open things, never waiting for either.
// Tests replace it with a recorder.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts argv[0] with the arguments argv[1..]; a program without a folder is searched in
  // the executable search path. `working_folder` empty means the program's own.
  virtual bool Start(const std::vector<std::string>& argv, WindowStyle style,
                     const std::string& working_folder = {}) = 0;
  // Opens a file, folder or web address with its associated program.
  virtual bool ShellOpen(const std::string& target) = 0;
};

// The launcher of the real system.
std::unique_ptr<Launcher> CreateSystemLauncher();

// How a program that was waited for ended.
struct RunResult {
  bool started = false;    // the program could be run at all
  bool timed_out = false;  // it was killed when its time was up
  int exit_code = -1;      // its exit status; -1 when it did not end by exiting
  std::string output;      // its standard output, when collected, cut at the limit
};

// Runs argv[0], a full path that is never searched for, with the arguments argv[1..] and waits
// at most `timeout_ms` for it to end, killing it then. Its standard input is empty. With
// `collect_output` its standard output is collected, up to `max_output` bytes (the rest is
// read and dropped); otherwise it goes where this program's goes.
RunResult RunAndWait(const std::vector<std::string>& argv, int timeout_ms, bool collect_output,
                     std::size_t max_output = 0);

// ---- Rights and instances -----------------------------------------------------------------

// True when the program runs with the rights needed to write the system hosts file.
bool IsUserAnAdmin();

// Held for the life of the running instance; released when destroyed.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// Takes the lock keyed by `program_path`; nullptr when another running instance of the same
// program file holds it.
std::unique_ptr<InstanceLock> AcquireInstanceLock(const std::string& program_path);

// Takes an exclusive lock on the folder that holds `file`, waiting up to `wait_ms` while another
// process holds it, so that two installs over one hosts file never interleave. nullptr when
// the folder cannot be locked in that time.
std::unique_ptr<InstanceLock> LockFolderOf(const std::string& file, int wait_ms);

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

// Rewrites the file at `path` (links followed) to hold exactly `bytes`: reserves the space,
// writes, cuts the file to length, flushes it to disk and reads it back. A failure after the
// first byte is written puts the old bytes back.
InPlaceResult RewriteInPlace(const std::string& path, std::string_view bytes);

// Takes away again the owner write bit that `SetAttributesNormal` added, if it added one.
// Call before `RestoreProtection`: an immutable file's mode cannot be changed. False when the
// bit could not be taken away.
bool RestoreOwnerWrite(const std::string& path, const Protection& removed);

}  // namespace vellomar::platform
