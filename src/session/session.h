#pragma once
// The rules and state of one run, shared by the window and the command line: the system paths,
// the source entries and their ticks, the address mode, the dated values of the installed and
// the merged file, the merge, the install and its verdict, and the DNS cache capture. Every
// outcome is a value (a result, a status text with its colour role); nothing here knows how it
// is drawn.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dns/capture.h"
#include "install/host_update.h"
#include "merge/address_mode.h"
#include "session/environment.h"
#include "support/log.h"

namespace vellomar::session {

// Colour roles of the status line and the version boxes.
enum class Colour { kWindow, kYellow, kRed, kGreen };

// The status line: the outcome of the last action.
struct Status {
  std::string text;
  Colour colour = Colour::kWindow;
};

// One entry of the source list: a file name exactly as the folder gives it, and its tick.
struct Entry {
  std::string name;
  bool ticked = false;
};

// What the version report shows for one file.
struct VersionSide {
  std::string summary;       // line count and length; keeps its last value when unreadable
  std::string version_text;  // the dated header lines
  Colour colour = Colour::kWindow;
};

enum class MergeResult {
  kMerged,         // the merged file holds the ticked entries
  kNoSelection,    // refused: "You must select at least one"
  kNoHeader,       // refused: "You must select a Header file"
  kNotWritten,     // the new file could not be completed; the old one is unchanged
  kNotReplaced,    // the new file was complete but could not take the old one's place
  kTooLarge,       // the merged file would pass the size limit; the old one is unchanged
  kRefusedFolder,  // running as root in a program folder that other users can change
  kAlreadyMerging  // a merge was under way; it is left alone
};

// How a DNS cache capture stands.
enum class CaptureState {
  kPending,   // the listing tool still runs
  kFinished,  // the report is ready
  kFailed,    // the capture could not be completed; the status line says why
  kTimedOut,  // the tool took too long and was stopped; the status line says so
  kIdle       // no capture runs
};
struct CapturePoll {
  CaptureState state = CaptureState::kIdle;
  std::string report;  // for kFinished: as much of the report as the report box takes
  bool fits = true;    // false when the report was cut to the box's capacity
};

// The most text the report box is given; a longer report is cut at a line end and marked.
inline constexpr std::size_t kReportBoxCapacity = std::size_t{4} << 20;

// The verdict on an install: whether the hosts file now carries the merged file.
enum class Verdict { kInstalled, kFailed };

class Session {
 public:
  explicit Session(Environment env);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const Environment& env() const { return env_; }

  // Called with the write button's caption after each merged entry and at the end of a merge.
  std::function<void(const std::string&)> on_progress;

  // ---- Paths ------------------------------------------------------------------------------
  // Start-up: the editor, the resolver tool and the hosts file from their candidates (first
  // that exists, else empty), and the merged file in the program folder. Running as root, a
  // program folder that other users can change is noted: nothing is written there.
  void ProbePaths();
  // Puts back the marks of the hosts file that an install killed half-way left cleared.
  void RecoverInterruptedInstall();
  // Why nothing is written in the program folder; empty when it may be written.
  const std::string& FolderProblem() const { return folder_problem_; }
  const std::string& HostsFilePath() const { return hosts_file_path_; }
  const std::string& MergedFilePath() const { return merged_file_path_; }
  const std::string& NotepadPath() const { return notepad_path_; }
  const std::string& IpconfigPath() const { return ipconfig_path_; }
  // For the command line's --hosts, --output and --resolver.
  void SetHostsFilePath(std::string path) { hosts_file_path_ = std::move(path); }
  void SetMergedFilePath(std::string path) { merged_file_path_ = std::move(path); }
  void SetIpconfigPath(std::string path) { ipconfig_path_ = std::move(path); }
  // program folder + separator + name.
  std::string ProgramFile(const std::string& name) const;

  // ---- Status line ---------------------------------------------------------------------------
  const Status& Information() const { return information_; }
  // Sets the text and keeps the colour, or sets both.
  void SetInformation(std::string text);
  void SetInformation(std::string text, Colour colour);
  // The last step of start-up: "Admin User", or the red hint that writing may fail.
  void ReportAdminState();

  // ---- Source catalogue ------------------------------------------------------------------------
  const std::vector<Entry>& Entries() const { return entries_; }
  // Changes whenever the list is refilled, so that a view knows to rebuild rather than retick.
  std::size_t EntriesGeneration() const { return generation_; }
  // The folder the entries were listed from; sources are read from here.
  const std::string& SourceFolder() const { return source_folder_; }
  std::string EntryPath(std::size_t index) const;
  // Lists the sources again, ticks the first entry (which merges) and then, without merging,
  // the entries that the installed hosts file names.
  void ClearMergeList();
  // Lists the sources again with nothing ticked and nothing merged. A name that the start
  // markers of a merged file could not give back whole ("," or " entries]" in it) is not
  // listed: its entries would be dropped by the next start-up. Such names and a missing source
  // folder make ListingNotice() say so.
  void ListSources();
  // What the last listing left out or could not find; empty when it listed everything.
  const std::string& ListingNotice() const { return listing_notice_; }
  // Adds ListingNotice(), if any, to the status line in red.
  void ShowListingNotice();
  // A change of one entry's tick, the user's or the program's; a change starts a merge
  // unless the rules hold it back. Setting the tick it already has does nothing.
  void SetTicked(std::size_t index, bool ticked);
  // Ticks or unticks an entry without starting a merge, as the header reader does.
  void SetTickedQuietly(std::size_t index, bool ticked);
  // The selection handler: merges unless the header reader is ticking or a merge it started
  // is under way.
  void MergeList_Click();
  // Index of the entry with exactly this name; nullopt when there is none.
  std::optional<std::size_t> FindEntry(const std::string& name) const;
  // A click on a source file: its size summary in the status line, colour kept.
  void ShowFileInfo(std::size_t index);
  // The number of ticked entries.
  std::size_t TickedCount() const;

  // ---- Header reader and version report --------------------------------------------------------
  // Line count and length of a file; empty text when there is none.
  std::string GetFileInfo(const std::string& path) const;
  // The dated lines of a file; refreshes the fields of its side and, reading the installed
  // file, ticks the entries its start markers name without starting merges.
  std::string GetFileInfo2(const std::string& path, bool is_current);
  // Index 0: both sides; 1: the installed side; anything else: the merged side.
  void GetHostVersion(int index);
  const VersionSide& CurrentSide() const { return current_; }
  const VersionSide& MergedSide() const { return merged_; }
  const std::string& CurrentCreated() const { return current_created_; }
  const std::string& CurrentUpdated() const { return current_updated_; }
  const std::string& MergedCreated() const { return merged_created_; }
  const std::string& MergedUpdated() const { return merged_updated_; }
  // The rule of the version report: both dated values of the two files are equal.
  bool VersionsMatch() const;

  // ---- Address mode
  // ------------------------------------------------------------------------------
  merge::AddressMode Mode() const { return mode_; }
  // A change of the mode rebuilds the merged file through the selection handler.
  void SetMode(merge::AddressMode mode);

  // ---- Merge
  // ------------------------------------------------------------------------------------- Builds
  // the merged file from the ticked entries in list order: the first must be a header.
  MergeResult WriteMergeFile();

  // ---- Install
  // ------------------------------------------------------------------------------------ Copies
  // `file` over the hosts file with the backup; returns the log texts it wrote. Another install
  // over the same hosts file, in any process, waits until this one is done.
  std::vector<std::string> DoHostUpdate(const std::string& file);
  // What the last DoHostUpdate did.
  install::HostUpdateOutcome::Result LastInstall() const { return last_install_; }
  // Puts the backup back over the hosts file; true when it took effect. `log_texts` gets what
  // was logged.
  bool RestoreBackup(std::vector<std::string>& log_texts);
  // Puts back the hosts file as it was before the program first wrote it (hosts file +
  // ".vellomar-original"); nothing is touched when the hosts file holds it already.
  install::RestoreOriginalResult RestoreOriginal(std::vector<std::string>& log_texts);
  // Whether installs go through the administrator's install command (not root, the command
  // is there, and the hosts file is the system's own).
  bool InstallsThroughAdministrator() const;
  // Set by an install that took the machine's name out of the hosts file: the warning for
  // the user, empty otherwise.
  const std::string& HostNameWarning() const { return host_name_warning_; }
  // Compares the version texts and the bytes and sets the status line and box colours; a
  // success with `auto_flush` flushes the resolver cache.
  Verdict TestAndRefresh(bool auto_flush);
  // The write button: merge, install, refresh both versions, verdict.
  Verdict CreateMergedHosts(bool auto_flush);
  // The menu's install of the merged file as it is: install, refresh, verdict. Both refuse,
  // installing nothing, while the last merge of the run was refused or failed.
  Verdict UpdateFromMerged(bool auto_flush);

  // ---- Programs ---------------------------------------------------------------------------------
  // Opens a file in the text editor, when both exist.
  // Each of these says in the status line when the program could not be started.
  void OpenInEditor(const std::string& path);
  void ShellOpen(const std::string& target);
  // Starts the resolver's cache flush; false when there is no resolver tool or it did not start.
  bool DoFlush();
  void StopDnsService();
  void StartDnsService();

  // ---- DNS cache capture
  // -------------------------------------------------------------------------- Removes the file of
  // an earlier capture and starts a new one. True when it runs and the caller should poll it;
  // otherwise the status line says why not.
  bool DoDnsDisplay();
  // The report once the listing tool has ended. A capture that runs past the time-out is
  // stopped and its file removed.
  CapturePoll PollCapture();
  std::string CaptureFilePath() const;
  // The end of the run: stops a capture and deletes its file.
  void CleanUp();
  // How long a capture may run before it is stopped (30 s; tests shorten it).
  void SetCaptureTimeout(std::chrono::milliseconds timeout) { capture_timeout_ = timeout; }

 private:
  void Log(const std::string& message);
  // Waits for other installs over the same hosts file as the environment says, and puts back
  // the marks of a killed one; logs and is false when it cannot have the lock.
  bool LockInstalls();
  // Installs `bytes` over the hosts file through the administrator's install command.
  install::HostUpdateOutcome::Result InstallAsAdministrator(std::string_view bytes);
  // Reads `file` as the install does; false, logged as "Could not Find ", when it cannot.
  bool ReadForInstall(const std::string& file, std::string& bytes);
  // Notes whether installing `bytes` takes away the machine's name from the hosts file.
  void CheckHostName(std::string_view bytes);
  std::string host_name_warning_;
  std::string probed_hosts_path_;  // the system's hosts file, as found at start-up
  std::unique_ptr<platform::InstanceLock> install_lock_;
  // The machine's name as "#HOSTNAME#" takes it: empty when there is none or it is no valid
  // host name (then the status line says why after a merge).
  std::string HostNameForMerge();
  bool host_name_refused_ = false;

  Environment env_;
  support::LogTarget log_;
  std::vector<std::string>* log_sink_ = nullptr;  // collects the log texts of one step

  std::string hosts_file_path_;
  std::string merged_file_path_;
  std::string notepad_path_;
  std::string ipconfig_path_;

  Status information_{"Info", Colour::kWindow};
  std::vector<Entry> entries_;
  std::size_t generation_ = 0;
  std::string source_folder_;
  merge::AddressMode mode_ = merge::AddressMode::kUse127;

  VersionSide current_;
  VersionSide merged_;
  std::string current_created_;
  std::string current_updated_;
  std::string merged_created_;
  std::string merged_updated_;

  std::string folder_problem_;
  std::string listing_notice_;
  std::unique_ptr<dns::Capture> capture_;
  std::chrono::milliseconds capture_timeout_{30000};
  install::HostUpdateOutcome::Result last_install_ =
      install::HostUpdateOutcome::Result::kNothingToDo;
  // Why the merged file is not the current selection's, after a refused or failed merge.
  std::optional<std::string> merge_problem_;
  bool selecting_from_hosts_ = false;  // the header reader is ticking an entry
  bool merge_click_busy_ = false;      // a merge started by the selection handler is running
  bool merge_running_ = false;         // WriteMergeFile is running
};

}  // namespace vellomar::session
