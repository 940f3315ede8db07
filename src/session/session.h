#pragma once
// The rules and state of one run, shared by the window and the command line: the system paths,
// the source entries and their ticks, the address mode, the dated values of the installed and
// the merged file, the merge, the install and its verdict, and the DNS cache capture. Every
// outcome is a value (a result, a status with its tone); nothing here knows how it is said or
// drawn: the view does.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/header_reader.h"
#include "dns/capture.h"
#include "fetch/fetch_list.h"
#include "install/entries.h"
#include "install/host_update.h"
#include "merge/address_mode.h"
#include "merge/merge_options.h"
#include "session/environment.h"
#include "session/status.h"
#include "support/file_reader.h"
#include "support/log.h"

namespace vellomar::session {

// One entry of the source list: a file name exactly as the folder gives it, and its tick.
struct Entry {
  std::string name;
  bool ticked = false;
};

// What the version report shows for one file.
struct VersionSide {
  std::string summary;       // line count and length; keeps its last value when unreadable
  std::string version_text;  // the dated header lines
  Tone tone = Tone::kNeutral;
};

// Which files the version report reads again.
enum class Sides { kBoth, kInstalled, kMerged };

enum class MergeResult {
  kMerged,         // the merged file holds the ticked entries
  kNoSelection,    // refused: nothing ticked
  kNoHeader,       // refused: the first ticked entry is no header
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
  kFailed,    // the capture could not be completed; the status says why
  kTimedOut,  // the tool took too long and was stopped; the status says so
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
enum class Verdict {
  kInstalled,
  kFailed,
  // Nothing installed: the hosts file, which the program did not write, holds entries of the
  // user's own that the new file lacks (OwnEntriesAtStake); installing with `force` drops them.
  kOwnEntriesAtStake,
};

// Which subscriptions a fetch takes.
enum class FetchScope {
  kAll,           // every subscription of the source folder
  kNamed,         // those named, by either of their files ("H_Name.url" or "H_Name.txt")
  kMissingLists,  // those whose list is not there yet
};
// The size cap, the time-out and the extra authorities of each list's fetch.
using FetchOptions = fetch::FetchLimits;

class Session {
 public:
  explicit Session(Environment env);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const Environment& env() const { return env_; }

  // Called with the write button's caption after each merged entry and at the end of a merge.
  std::function<void(const std::string&)> on_progress;

  // ---- Start-up -------------------------------------------------------------------------------
  // The whole start-up of a window: paths probed, an interrupted install repaired, versions
  // read, the sources listed with the installed ones ticked, the start-up address mode set (which
  // merges), and the status saying whether the program may write the hosts file.
  void StartUp();
  // The refresh button: versions read again, the sources listed and ticked again, a merge.
  void Refresh();
  // The editor, the resolver tool and the hosts file from their candidates (first that exists,
  // else empty), and the merged file in the program folder. Running as root, a program folder
  // that other users can change is noted: nothing is written there.
  void ProbePaths();
  // Puts back the marks of the hosts file that an install killed half-way left cleared, unless
  // another install is under way (which does it itself).
  void RecoverInterruptedInstall();
  // Why nothing is read or written in the program folder; nullopt when it may be.
  const std::optional<Status>& FolderProblem() const { return folder_problem_; }
  const std::string& HostsFilePath() const { return hosts_file_path_; }
  const std::string& MergedFilePath() const { return merged_file_path_; }
  const std::string& EditorPath() const { return editor_path_; }
  const std::string& ResolverToolPath() const { return resolver_tool_path_; }
  // For the command line's --hosts, --output and --resolver.
  void SetHostsFilePath(std::string path) { hosts_file_path_ = std::move(path); }
  void SetMergedFilePath(std::string path) { merged_file_path_ = std::move(path); }
  void SetResolverToolPath(std::string path) { resolver_tool_path_ = std::move(path); }
  // program folder + separator + name.
  std::string ProgramFile(const std::string& name) const;

  // ---- Status line ----------------------------------------------------------------------------
  const Status& Information() const { return information_; }
  // Adds a note of the front end's to the end of the status, keeping its tone.
  void AddNote(std::string text);

  // ---- Source catalogue -----------------------------------------------------------------------
  const std::vector<Entry>& Entries() const { return entries_; }
  // Changes whenever the list is refilled, so that a view knows to rebuild rather than retick.
  std::size_t EntriesGeneration() const { return generation_; }
  // The folder the entries were listed from; sources are read from here.
  const std::string& SourceFolder() const { return source_folder_; }
  std::string EntryPath(std::size_t index) const;
  // Lists the sources again, ticks the first entry (which merges) and then, without merging,
  // the entries that the installed hosts file names.
  void ListAndTickSources();
  // Lists the sources again with nothing ticked and nothing merged. A name that the start
  // markers of a merged file could not give back whole is not listed (its entries would be
  // dropped by the next start-up): such names and a missing source folder make ListingNotice()
  // say so.
  void ListSources();
  // What the last listing left out or could not find; nullopt when it listed everything.
  const std::optional<Addendum>& ListingNotice() const { return listing_notice_; }
  // Adds ListingNotice(), if any, to the status, which then reports a failure.
  void ShowListingNotice();
  // A change of one entry's tick, the user's or the program's; a change starts a merge
  // unless the rules hold it back. Setting the tick it already has does nothing.
  void SetTicked(std::size_t index, bool ticked);
  // Ticks or unticks an entry without starting a merge, as the header reader does.
  void SetTickedQuietly(std::size_t index, bool ticked);
  // The selection changed: merges unless the header reader is ticking or a merge it started
  // is under way.
  void OnSelectionChanged();
  // Index of the entry with exactly this name; nullopt when there is none.
  std::optional<std::size_t> FindEntry(const std::string& name) const;
  // A click on a source file: its size summary in the status, the tone kept.
  void ShowFileSummary(std::size_t index);
  // The number of ticked entries.
  std::size_t TickedCount() const;

  // ---- Header reader and version report -------------------------------------------------------
  // Line count and length of a file; empty text when there is none.
  std::string FileSummary(const std::string& path) const;
  // The dated lines of a file; refreshes the fields of its side and, reading the installed
  // file, ticks the entries its start markers name without starting merges.
  std::string ReadDatedLines(const std::string& path, bool is_installed);
  // Reads the dated lines of one or both files again and judges whether they differ.
  void RefreshVersions(Sides sides);
  // The size of the pieces sources are read in (support::kReadChunkBytes unless set).
  void SetReadChunkBytes(std::size_t bytes) { read_chunk_bytes_ = bytes > 0 ? bytes : 1; }
  const VersionSide& CurrentSide() const { return current_; }
  const VersionSide& MergedSide() const { return merged_; }
  const std::string& CurrentCreated() const { return current_created_; }
  const std::string& CurrentUpdated() const { return current_updated_; }
  const std::string& MergedCreated() const { return merged_created_; }
  const std::string& MergedUpdated() const { return merged_updated_; }
  // The rule of the version report: both dated values of the two files are equal.
  bool VersionsMatch() const;

  // ---- Address mode ---------------------------------------------------------------------------
  merge::AddressMode Mode() const { return merge_options_.mode; }
  // A change of the mode rebuilds the merged file through the selection handler.
  void SetMode(merge::AddressMode mode);

  // ---- Merge options --------------------------------------------------------------------------
  // The address mode and the rules on names (duplicates, packing); the allowlist is read from
  // the source folder at each merge. A change rebuilds the merged file as SetMode does.
  const merge::MergeOptions& MergeSettings() const { return merge_options_; }
  void SetMergeSettings(const merge::MergeOptions& options);
  void SetDedupe(bool dedupe);

  // ---- Merge ----------------------------------------------------------------------------------
  // Builds the merged file from the ticked entries in list order: the first must be a header.
  MergeResult MergeTickedEntries();

  // ---- Install --------------------------------------------------------------------------------
  // Copies `file` over the hosts file with the backup; returns the log texts it wrote. Another
  // install over the same hosts file, in any process, is waited for as the environment says.
  // Unless `force`, a hosts file without the program's start marker whose entries of the user's
  // own `file` lacks is left alone: kOwnEntriesKept, with OwnEntriesAtStake() naming them.
  std::vector<std::string> InstallFile(const std::string& file, bool force = false);
  // The entries of the user's own that the last install refused to drop.
  const std::vector<install::HostEntry>& OwnEntriesAtStake() const { return own_at_stake_; }
  // Whether the hosts file holds `file` already, apart from the creation date's dated line.
  bool HostsHolds(const std::string& file) const;
  // What the last install did.
  install::HostUpdateOutcome::Result LastInstall() const { return last_install_; }
  // Why the helper was not run as the administrator, after an install that came back
  // kNotAuthorized.
  AuthRefusal LastRefusal() const { return last_refusal_; }
  // Puts the backup back over the hosts file; true when it took effect. `log_texts` gets what
  // was logged.
  bool RestoreBackup(std::vector<std::string>& log_texts);
  // Puts back the hosts file as it was before the program first wrote it (hosts file +
  // ".vellomar-original"); nothing is touched when the hosts file holds it already.
  install::RestoreOriginalResult RestoreOriginal(std::vector<std::string>& log_texts);
  // Whether installs go through the administrator's install command (not root, the command
  // is there, and the hosts file is the system's own).
  bool InstallsThroughAdministrator() const;
  // Set by an install that took the machine's name out of the hosts file: that name, empty
  // otherwise.
  const std::string& MissingHostName() const { return missing_host_name_; }
  // Compares the bytes of the merged and the hosts file, refreshes both versions (from the same
  // read when the bytes agree), and sets the status and the tones of the version boxes; a
  // success with `auto_flush` flushes the resolver cache. Bytes that could not be compared
  // leave it to the version texts and the install's own outcome.
  Verdict JudgeInstall(bool auto_flush);
  // The write button: merge, install, refresh both versions, verdict.
  Verdict MergeAndInstall(bool auto_flush, bool force = false);
  // The menu's install of the merged file as it is: install, refresh, verdict. Both refuse,
  // installing nothing, while the last merge of the run was refused, failed or left a ticked
  // source out; without `force`, both give kOwnEntriesAtStake as InstallFile refuses.
  Verdict InstallMerged(bool auto_flush, bool force = false);

  // ---- Subscriptions --------------------------------------------------------------------------
  // Told the list being fetched and the bytes received for it so far, as it starts (0) and after
  // each piece: a window draws its progress.
  std::function<void(const std::string& list, std::uint64_t bytes)> on_fetch_progress;
  // The subscriptions (H_*.url) of the source folder, in list order; empty when the folder cannot
  // be read or may not be used.
  std::vector<std::string> Subscriptions() const;
  // Fetches the list of each subscription `scope` takes (`names` for kNamed, in their order), one
  // result each, through the environment's http_get, and keeps the validators of good replies in
  // the fetch state. A name that is no subscription's is a failed result. Nothing is fetched when
  // the program folder may not be used. The caller lists the sources again afterwards.
  std::vector<fetch::FetchResult> FetchSubscriptions(const std::vector<std::string>& names,
                                                     const FetchOptions& options, FetchScope scope);
  // The window's update of the sources from the web: every subscription fetched (those whose
  // list is still missing among them), then the lists refilled and merged as the refresh button
  // does; the status names what was updated and, as a failure, each list that was not.
  void UpdateSourcesFromWeb();

  // ---- Who maps a name ------------------------------------------------------------------------
  // Every line of the sources and of the hosts file that maps `name`, and whether the allowlist
  // frees it (exports::QueryName); the status reports it (kNameQueried). nullopt, said in the
  // status, when `name` is none a hosts line can hold (kNameNotValid) or the program folder may
  // not be used.
  std::optional<exports::NameQuery> FindName(const std::string& name);

  // ---- Programs -------------------------------------------------------------------------------
  // Each says in the status when the program could not be started.
  // Opens a file in the text editor, when both exist.
  void OpenInEditor(const std::string& path);
  void ShellOpen(const std::string& target);
  // Starts the resolver's cache flush; false when there is no resolver tool or it did not start.
  bool FlushResolverCache();
  void StopDnsService();
  void StartDnsService();

  // ---- DNS cache capture ----------------------------------------------------------------------
  // Removes the file of an earlier capture and starts a new one. True when it runs and the
  // caller should poll it; otherwise the status says why not.
  bool StartCacheCapture();
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
  // The dated lines of `report`, taken as ReadDatedLines takes those it reads.
  std::string TakeDatedLines(const catalogue::HeaderReport& report, bool is_installed);
  // The merged side of the version report from the file just written: its summary and header.
  void RefreshMergedSide(const std::string& summary, const catalogue::HeaderReport& report);
  // Whether the merged file, opened (not read) as the report opens files, has the length of
  // the bytes just written to it.
  bool HoldsWritten(std::uint64_t bytes) const;
  // The last step of start-up: whether the program may write the hosts file.
  void ReportAdminState();
  void Report(Status::Kind kind, Tone tone, std::string subject = {}, std::string detail = {});
  void ReportProgram(Status::Kind kind, const std::string& program, Status::Purpose purpose);
  // Waits for other installs over the same hosts file as the environment says, and puts back
  // the marks of a killed one; logs and is false when it cannot have the lock.
  bool LockInstalls();
  // Installs `bytes` over the hosts file through the administrator's install command.
  install::HostUpdateOutcome::Result InstallAsAdministrator(std::string_view bytes);
  // Whether the hosts file is one the program did not write that holds entries of the user's
  // own `file` lacks; sets own_at_stake_.
  bool OwnEntriesKept(const std::string& file);
  // Reads `file` as the install does; false, logged, when it cannot.
  bool ReadForInstall(const std::string& file, std::string& bytes);
  // Opens `file` as ReadForInstall reads it; false, logged, when it cannot.
  bool OpenForInstall(const std::string& file, platform::InputFile& opened);
  // Logs why `file` was not installed.
  void LogNotRead(const std::string& file, platform::ReadStatus why);
  // Installs the open `file` over the hosts file in this process, watching both for the
  // machine's name as CheckHostName does.
  install::HostUpdateOutcome::Result InstallHere(const std::string& path,
                                                 platform::InputFile& file);
  // Notes whether installing `bytes` takes away the machine's name from the hosts file.
  void CheckHostName(std::string_view bytes);
  // The machine's name as "#HOSTNAME#" takes it: empty when there is none or it is no valid
  // host name (which the merge's status then says).
  std::string HostNameForMerge();
  // The merged file's name as the status shows it: relative to the program folder.
  std::string ShownMergedFile() const;

  Environment env_;
  support::LogTarget log_;
  std::vector<std::string>* log_sink_ = nullptr;  // collects the log texts of one step

  std::string hosts_file_path_;
  std::string probed_hosts_path_;  // the system's hosts file, as found at start-up
  std::string merged_file_path_;
  std::string editor_path_;
  std::string resolver_tool_path_;

  Status information_;
  std::vector<Entry> entries_;
  std::size_t generation_ = 0;
  std::string source_folder_;
  merge::MergeOptions merge_options_;

  VersionSide current_;
  VersionSide merged_;
  std::string current_created_;
  std::string current_updated_;
  std::string merged_created_;
  std::size_t read_chunk_bytes_ = support::kReadChunkBytes;
  std::string merged_updated_;

  std::optional<Status> folder_problem_;
  std::optional<Addendum> listing_notice_;
  std::unique_ptr<dns::Capture> capture_;
  std::chrono::milliseconds capture_timeout_{30000};
  std::unique_ptr<platform::InstanceLock> install_lock_;
  install::HostUpdateOutcome::Result last_install_ =
      install::HostUpdateOutcome::Result::kNothingToDo;
  AuthRefusal last_refusal_ = AuthRefusal::kFailed;
  std::string missing_host_name_;
  std::vector<install::HostEntry> own_at_stake_;
  bool host_name_refused_ = false;
  // Why the merged file is not the current selection's, after a refused or failed merge or one
  // that left a ticked source out.
  std::optional<Status> merge_problem_;
  bool selecting_from_hosts_ = false;  // the header reader is ticking an entry
  bool merge_click_busy_ = false;      // a merge started by the selection handler is running
  bool merge_running_ = false;         // MergeTickedEntries is running
};

}  // namespace vellomar::session
