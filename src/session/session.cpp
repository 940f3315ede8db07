#include "session/session.h"

#include <algorithm>

#include "catalogue/header_reader.h"
#include "catalogue/source_list.h"
#include "catalogue/version_report.h"
#include "dns/commands.h"
#include "dns/report.h"
#include "install/host_update.h"
#include "install/privileged.h"
#include "install/verdict.h"
#include "merge/merge_writer.h"
#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/shell.h"
#include "support/text.h"

namespace vellomar::session {

Session::Session(Environment env)
    : env_(std::move(env)),
      log_(support::ProgramLog(env_.program_folder, env_.program_name, env_.line_end)),
      source_folder_(ProgramFile(std::string(catalogue::kSourceFolderName))) {
  log_.echo = [this](std::string_view message) {
    if (log_sink_ != nullptr) log_sink_->emplace_back(message);
  };
  if (env_.launcher != nullptr) capture_ = std::make_unique<dns::Capture>(*env_.launcher);
}

// ---- Paths -----------------------------------------------------------------------------------

void Session::ProbePaths() {
  notepad_path_ = platform::FirstExisting(env_.notepad_candidates);
  ipconfig_path_ = platform::FirstExisting(env_.ipconfig_candidates);
  hosts_file_path_ = platform::FirstExisting(env_.hosts_candidates);
  probed_hosts_path_ = hosts_file_path_;
  merged_file_path_ = ProgramFile("M_Hosts.txt");
  folder_problem_ = env_.folder_problem;
  if (!folder_problem_.empty()) log_.path.clear();
  if (env_.program_folder.empty()) {
    folder_problem_ = "The folder of this program cannot be named: nothing is read or written";
    log_.path.clear();
  } else if (folder_problem_.empty() && platform::EffectiveUser() == 0) {
    const auto safety = platform::CheckFolderSafety(env_.program_folder);
    if (safety == platform::FolderSafety::kOpenToOthers ||
        safety == platform::FolderSafety::kForeignOwner) {
      // Another user could swap what root writes or appends there for a link or a pipe.
      folder_problem_ =
          "Other users can change " + env_.program_folder + ": nothing is written there as root";
      log_.path.clear();
    }
  }
}

void Session::RecoverInterruptedInstall() {
  // Whether marks were put back or not, the log says so; the run goes on either way. Never
  // waited for: an install under way recovers them itself.
  if (hosts_file_path_.empty()) return;
  install::LockPolicy policy = env_.install_lock;
  policy.wait_ms = 0;
  (void)install::LockAndRecover(hosts_file_path_, log_, policy);
}

std::string Session::ProgramFile(const std::string& name) const {
  // Without a program folder there are no program files: a bare name would be one in the
  // current folder.
  if (env_.program_folder.empty()) return {};
  return platform::JoinPath(env_.program_folder, name);
}

void Session::Log(const std::string& message) { support::WriteLog(log_, message); }

// ---- Status line -------------------------------------------------------------------------------

void Session::SetInformation(std::string text) { information_.text = std::move(text); }

void Session::SetInformation(std::string text, Colour colour) {
  information_ = {std::move(text), colour};
}

void Session::ReportAdminState() {
  if (!folder_problem_.empty()) {
    SetInformation(folder_problem_, Colour::kRed);
  } else if (env_.is_admin && env_.is_admin()) {
    SetInformation("Admin User");
  } else if (InstallsThroughAdministrator()) {
    SetInformation("Writing HOSTS will ask for an administrator password", Colour::kWindow);
  } else {
    SetInformation("You may need to run as Administrator to write hosts", Colour::kRed);
  }
}

// ---- Source catalogue
// ----------------------------------------------------------------------------

void Session::ListSources() {
  // Only ever the program's own source folder: a missing one lists nothing rather than
  // whatever folder the process happens to start in.
  source_folder_ = ProgramFile(std::string(catalogue::kSourceFolderName));
  entries_.clear();
  listing_notice_.clear();
  std::string unlisted;
  if (const auto names = catalogue::ListSources(source_folder_)) {
    for (const auto& name : *names) {
      if (support::Contains(name, ",") || support::Contains(name, " entries]")) {
        unlisted += (unlisted.empty() ? "" : ", ") + name;
        continue;
      }
      entries_.push_back({name, false});
    }
  } else {
    listing_notice_ = "No source folder " + source_folder_;
  }
  if (!unlisted.empty()) {
    listing_notice_ =
        "Not listed, as a start marker cannot hold \",\" or \" entries]\": " + unlisted;
    Log(listing_notice_);
  }
  ++generation_;
}

void Session::ShowListingNotice() {
  if (listing_notice_.empty()) return;
  SetInformation(information_.text + " - " + listing_notice_, Colour::kRed);
}

void Session::ClearMergeList() {
  ListSources();
  if (!entries_.empty()) SetTicked(0, true);
  GetFileInfo2(hosts_file_path_, true);
}

void Session::SetTicked(std::size_t index, bool ticked) {
  if (index >= entries_.size() || entries_[index].ticked == ticked) return;
  entries_[index].ticked = ticked;
  MergeList_Click();
}

void Session::SetTickedQuietly(std::size_t index, bool ticked) {
  selecting_from_hosts_ = true;
  SetTicked(index, ticked);
  selecting_from_hosts_ = false;
}

void Session::MergeList_Click() {
  if (selecting_from_hosts_) return;
  if (merge_click_busy_) return;
  merge_click_busy_ = true;
  WriteMergeFile();
  merge_click_busy_ = false;
}

std::optional<std::size_t> Session::FindEntry(const std::string& name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].name == name) return i;
  }
  return std::nullopt;
}

std::string Session::EntryPath(std::size_t index) const {
  if (index >= entries_.size()) return {};
  return platform::JoinPath(source_folder_, entries_[index].name);
}

void Session::ShowFileInfo(std::size_t index) {
  if (index < entries_.size()) SetInformation(GetFileInfo(EntryPath(index)));
}

std::size_t Session::TickedCount() const {
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.ticked; }));
}

// ---- Header reader and version report
// -------------------------------------------------------------

std::string Session::GetFileInfo(const std::string& path) const {
  return catalogue::FileSummary(path, env_.line_end);
}

std::string Session::GetFileInfo2(const std::string& path, bool is_current) {
  const catalogue::HeaderReport report = catalogue::ReadHeaderFile(path, env_.line_end);
  std::string& created = is_current ? current_created_ : merged_created_;
  std::string& updated = is_current ? current_updated_ : merged_updated_;
  const std::string fallback(is_current ? catalogue::kCurrentDefault : catalogue::kMergedDefault);
  created = report.created.value_or(fallback);
  updated = report.updated.value_or(fallback);
  for (const auto& name : report.source_names) {
    if (const auto index = FindEntry(name)) SetTickedQuietly(*index, true);
  }
  return report.version_text;
}

void Session::GetHostVersion(int index) {
  if (index == 0 || index == 1) {
    std::string version;
    if (catalogue::IsReadableForReport(hosts_file_path_)) {
      current_.summary = GetFileInfo(hosts_file_path_);
      version = GetFileInfo2(hosts_file_path_, true);
    }
    current_.colour = Colour::kWindow;
    current_.version_text = std::move(version);
  }
  if (index == 1) return;
  merged_.colour = Colour::kYellow;
  merged_.version_text.clear();
  if (!catalogue::IsReadableForReport(merged_file_path_)) return;
  merged_.colour = Colour::kWindow;
  merged_.summary = GetFileInfo(merged_file_path_);
  merged_.version_text = GetFileInfo2(merged_file_path_, false);
  if (!VersionsMatch()) merged_.colour = Colour::kYellow;
}

bool Session::VersionsMatch() const {
  return merged_updated_ == current_updated_ && merged_created_ == current_created_;
}

// ---- Address mode
// ---------------------------------------------------------------------------------

void Session::SetMode(merge::AddressMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  MergeList_Click();
}

// ---- Merge
// ------------------------------------------------------------------------------------------

MergeResult Session::WriteMergeFile() {
  // A call raised by the run's own untickings must leave the running merge alone.
  if (merge_running_) return MergeResult::kAlreadyMerging;
  const auto first = std::find_if(entries_.begin(), entries_.end(),
                                  [](const Entry& entry) { return entry.ticked; });
  if (first == entries_.end()) {
    SetInformation("You must select at least one", Colour::kYellow);
    merge_problem_ = information_.text;
    return MergeResult::kNoSelection;
  }
  if (!merge::IsHeaderEntry(first->name)) {
    SetInformation("You must select a Header file", Colour::kYellow);
    merge_problem_ = information_.text;
    return MergeResult::kNoHeader;
  }
  if (!folder_problem_.empty()) {
    SetInformation(folder_problem_, Colour::kRed);
    merge_problem_ = information_.text;
    return MergeResult::kRefusedFolder;
  }
  merge_running_ = true;
  SetInformation("Scanning", Colour::kWindow);
  const support::ReadOptions read_options = support::SourceReadOptions(source_folder_);
  std::string not_merged;  // the sources left out, each with the reason

  const std::string date = env_.clock ? env_.clock() : std::string();
  merge::MergeWriter writer(merged_file_path_, mode_, env_.line_end, date, HostNameForMerge());
  bool header_taken = false;
  bool mvps_taken = false;
  std::string text;  // one buffer for every source: a large merge faults its pages in once
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].ticked) continue;
    const std::string name = entries_[i].name;  // a copy: unticking may raise a refill
    const bool current_is_header = merge::IsHeaderEntry(name);
    if (current_is_header) {
      if (header_taken) SetTicked(i, false);
      header_taken = true;
    }
    if (merge::IsMvpsEntry(name)) {
      if (mvps_taken) SetTicked(i, false);
      mvps_taken = true;
    }
    if (!entries_[i].ticked) continue;
    const std::string path = platform::JoinPath(source_folder_, name);
    const platform::ReadStatus read = support::ReadWholeFile(path, text, read_options);
    if (read != platform::ReadStatus::kOk) {
      // Never an empty block in its place: the next install would drop its entries silently.
      Log("Could not Read " + path);
      not_merged += (not_merged.empty() ? "" : ", ") + name + " (" +
                    std::string(support::DescribeReadStatus(read)) + ")";
      continue;
    }
    if (current_is_header) {
      writer.AddHeader(text);
    } else {
      writer.AddSource(name, text);
    }
    if (on_progress) on_progress(std::to_string(i) + " of " + std::to_string(TickedCount()));
  }
  MergeResult result = MergeResult::kMerged;
  switch (writer.Commit()) {
    case merge::MergeWriter::CommitResult::kReplaced:
      break;
    case merge::MergeWriter::CommitResult::kWriteFailed:
      result = MergeResult::kNotWritten;
      break;
    case merge::MergeWriter::CommitResult::kReplaceFailed:
      Log("Failed to Kill " + merged_file_path_);
      result = MergeResult::kNotReplaced;
      break;
    case merge::MergeWriter::CommitResult::kTooLarge:
      result = MergeResult::kTooLarge;
      break;
  }
  const std::string shown =
      support::ReplaceAll(merged_file_path_, env_.program_folder + platform::PathSeparator(), "");
  const std::string host_name_note =
      host_name_refused_ ? std::string(" - ") + std::string(merge::kHostNamePlaceholder) +
                               " left as it is: the machine's name is not a valid host name"
                         : std::string();
  if (result == MergeResult::kMerged && not_merged.empty()) {
    SetInformation("Merged " + GetFileInfo(merged_file_path_) + " - File:[ " + shown + " ]" +
                   host_name_note);
    merge_problem_.reset();
  } else if (result == MergeResult::kMerged) {
    // Not a merge of what was ticked: never installed as one.
    SetInformation("Merged " + GetFileInfo(merged_file_path_) + " - File:[ " + shown +
                       " ] - not merged: " + not_merged,
                   Colour::kRed);
    merge_problem_ = information_.text;
  } else if (result == MergeResult::kTooLarge) {
    Log("Could not Write " + merged_file_path_);
    SetInformation("Merge failed: " + shown + " would be larger than " +
                       std::to_string(platform::kMaxFileBytes >> 20) + " MiB",
                   Colour::kRed);
    merge_problem_ = information_.text;
  } else {
    // A full disk or a file size limit: the old file stays, and must not pass for the new one.
    if (result == MergeResult::kNotWritten) Log("Could not Write " + merged_file_path_);
    SetInformation("Merge failed: could not write " + shown, Colour::kRed);
    merge_problem_ = information_.text;
  }
  if (on_progress) on_progress("Write to HOSTS");
  merge_running_ = false;
  GetHostVersion(2);
  return result;
}

std::string Session::HostNameForMerge() {
  const std::string name = env_.host_name ? env_.host_name() : std::string();
  host_name_refused_ = !name.empty() && !merge::IsValidHostName(name);
  return host_name_refused_ ? std::string() : name;
}

// ---- Install
// ------------------------------------------------------------------------------------------

std::vector<std::string> Session::DoHostUpdate(const std::string& file) {
  using Result = install::HostUpdateOutcome::Result;
  std::vector<std::string> written;
  log_sink_ = &written;
  host_name_warning_.clear();
  last_install_ = Result::kNotInstalled;
  std::string bytes;
  if (!platform::FileExists(file) || !platform::FileExists(hosts_file_path_)) {
    last_install_ = Result::kNothingToDo;  // as the install itself: silent
  } else if (!ReadForInstall(file, bytes)) {
    last_install_ = Result::kNotRead;
  } else {
    CheckHostName(bytes);
    if (InstallsThroughAdministrator()) {
      last_install_ = InstallAsAdministrator(bytes);
    } else if (LockInstalls()) {
      last_install_ = install::InstallHostsBytes(bytes, hosts_file_path_, log_).result;
    } else {
      last_install_ = Result::kBusy;
    }
  }
  log_sink_ = nullptr;
  install_lock_.reset();
  return written;
}

bool Session::ReadForInstall(const std::string& file, std::string& bytes) {
  // Read once, never through a link, so that exactly these bytes are installed; an empty file
  // cannot be told from an unreadable one and is never installed.
  const platform::ReadStatus read =
      support::ReadWholeFile(file, bytes, support::InstallReadOptions());
  if (read == platform::ReadStatus::kOk && !bytes.empty()) return true;
  const std::string_view why = read == platform::ReadStatus::kNotText      ? install::kNotAHostsFile
                               : read == platform::ReadStatus::kUnsafePath ? install::kUnsafeFolder
                                                                           : install::kCouldNotFind;
  Log(std::string(why) + file);
  return false;
}

void Session::CheckHostName(std::string_view bytes) {
  const std::string name = HostNameForMerge();
  if (name.empty() || install::NamesHost(bytes, name, env_.line_end)) return;
  std::string current;
  if (support::ReadWholeFile(hosts_file_path_, current) != platform::ReadStatus::kOk ||
      !install::NamesHost(current, name, env_.line_end)) {
    return;
  }
  host_name_warning_ = "the new HOSTS does not name this machine (" + name + "): add \"127.0.1.1 " +
                       std::string(merge::kHostNamePlaceholder) + "\" to the header";
}

bool Session::InstallsThroughAdministrator() const {
  return !env_.privileged_install.empty() && env_.launcher != nullptr &&
         !(env_.is_admin && env_.is_admin()) && !hosts_file_path_.empty() &&
         hosts_file_path_ == probed_hosts_path_;
}

install::HostUpdateOutcome::Result Session::InstallAsAdministrator(std::string_view bytes) {
  const platform::InputRunResult run = env_.launcher->RunPrivileged(env_.privileged_install, bytes);
  const install::PrivilegedOutcome outcome = install::ReadHelperExit(
      run.started, run.exit_code, run.error_output, env_.privileged_install);
  for (const auto& line : outcome.log_lines) Log(line);
  return outcome.result;
}

bool Session::RestoreBackup(std::vector<std::string>& log_texts) {
  log_sink_ = &log_texts;
  bool restored = false;
  if (InstallsThroughAdministrator()) {
    // The helper's install keeps the replaced file as the backup: a swap, as below.
    std::string bytes;
    restored = ReadForInstall(hosts_file_path_ + std::string(install::kBackupSuffix), bytes) &&
               (last_install_ = InstallAsAdministrator(bytes)) ==
                   install::HostUpdateOutcome::Result::kInstalled;
  } else {
    restored = !hosts_file_path_.empty() && LockInstalls() &&
               install::RestoreBackup(hosts_file_path_, log_);
  }
  log_sink_ = nullptr;
  install_lock_.reset();
  return restored;
}

install::RestoreOriginalResult Session::RestoreOriginal(std::vector<std::string>& log_texts) {
  using install::RestoreOriginalResult;
  log_sink_ = &log_texts;
  RestoreOriginalResult result = RestoreOriginalResult::kFailed;
  if (InstallsThroughAdministrator()) {
    std::string bytes;
    std::string current;
    if (!ReadForInstall(hosts_file_path_ + std::string(install::kOriginalSuffix), bytes)) {
      result = RestoreOriginalResult::kFailed;
    } else if (support::ReadWholeFile(hosts_file_path_, current) == platform::ReadStatus::kOk &&
               current == bytes) {
      result = RestoreOriginalResult::kAlreadyInPlace;
    } else {
      last_install_ = InstallAsAdministrator(bytes);
      if (last_install_ == install::HostUpdateOutcome::Result::kInstalled) {
        result = RestoreOriginalResult::kRestored;
      }
    }
  } else if (!hosts_file_path_.empty() && LockInstalls()) {
    result = install::RestoreOriginal(hosts_file_path_, log_);
  }
  log_sink_ = nullptr;
  install_lock_.reset();
  return result;
}

bool Session::LockInstalls() {
  if (hosts_file_path_.empty()) return true;  // nothing will be written
  install_lock_ = install::LockAndRecover(hosts_file_path_, log_, env_.install_lock);
  return install_lock_ != nullptr;
}

Verdict Session::TestAndRefresh(bool auto_flush) {
  // Bytes that could not be compared (a read that failed half-way) leave the verdict to what
  // the install itself reported: a completed install is never called failed, nor a failed one
  // done.
  const install::Sameness judged = install::JudgeInstall(
      merged_.version_text, current_.version_text, merged_file_path_, hosts_file_path_);
  const bool failed = judged == install::Sameness::kDifferent ||
                      (judged == install::Sameness::kUnknown &&
                       last_install_ != install::HostUpdateOutcome::Result::kInstalled);
  if (failed) {
    current_.colour = Colour::kYellow;
    merged_.colour = Colour::kYellow;
    SetInformation("You may need to run as Administrator HOSTS Write Failed", Colour::kRed);
    return Verdict::kFailed;
  }
  current_.colour = Colour::kWindow;
  merged_.colour = Colour::kWindow;
  SetInformation("Done " + GetFileInfo(merged_file_path_) + " - Copied to HOSTS", Colour::kGreen);
  // Without a resolver tool there is no cache to flush; a tool that cannot start is said.
  if (auto_flush && !ipconfig_path_.empty() &&
      !env_.launcher->Start(dns::FlushCommand(ipconfig_path_, env_.dialect),
                            platform::WindowStyle::kMinimizedNoFocus)) {
    SetInformation(information_.text + " - but " + ipconfig_path_ + " could not flush the cache");
  }
  return Verdict::kInstalled;
}

Verdict Session::CreateMergedHosts(bool auto_flush) {
  WriteMergeFile();
  return UpdateFromMerged(auto_flush);
}

Verdict Session::UpdateFromMerged(bool auto_flush) {
  if (merge_problem_) {
    // The merged file on disk is an older one: installing it would report a false success.
    SetInformation(*merge_problem_ + " - HOSTS not written", Colour::kRed);
    return Verdict::kFailed;
  }
  DoHostUpdate(merged_file_path_);
  GetHostVersion(0);
  if (last_install_ == install::HostUpdateOutcome::Result::kNotAuthorized) {
    // Nothing was tried: no write failed, so the verdict's text would mislead.
    SetInformation("Administrator authentication cancelled or refused - HOSTS not written",
                   Colour::kYellow);
    return Verdict::kFailed;
  }
  if (last_install_ == install::HostUpdateOutcome::Result::kBusy) {
    SetInformation("Another install of HOSTS is under way - HOSTS not written", Colour::kRed);
    return Verdict::kFailed;
  }
  const Verdict verdict = TestAndRefresh(auto_flush);
  if (last_install_ == install::HostUpdateOutcome::Result::kDamaged) {
    SetInformation("HOSTS may be damaged: " + hosts_file_path_, Colour::kRed);
  } else if (verdict == Verdict::kInstalled && !host_name_warning_.empty()) {
    SetInformation(information_.text + " - " + host_name_warning_);
  }
  return verdict;
}

// ---- Programs
// -------------------------------------------------------------------------------------------

void Session::OpenInEditor(const std::string& path) {
  if (!platform::FileExists(path)) return;
  if (notepad_path_.empty()) {
    SetInformation("No text editor found: install one, for example mousepad or gedit",
                   Colour::kRed);
    return;
  }
  // Program and path as separate arguments, so a path with blanks reaches the editor whole.
  if (!env_.launcher->Start({notepad_path_, path}, platform::WindowStyle::kNormalFocus)) {
    SetInformation("Could not start " + notepad_path_, Colour::kRed);
  }
}

void Session::ShellOpen(const std::string& target) {
  if (!support::ShellOpen(*env_.launcher, target)) {
    SetInformation("Could not open " + target + " (is xdg-open installed?)", Colour::kRed);
  }
}

bool Session::DoFlush() {
  if (ipconfig_path_.empty()) {
    SetInformation("No DNS cache tool: install systemd-resolved (it brings resolvectl) to flush",
                   Colour::kRed);
    return false;
  }
  if (env_.launcher->Start(dns::FlushCommand(ipconfig_path_, env_.dialect),
                           platform::WindowStyle::kMinimizedNoFocus)) {
    return true;
  }
  SetInformation("Could not start " + ipconfig_path_ + " to flush the DNS cache", Colour::kRed);
  return false;
}

void Session::StopDnsService() {
  const auto command = dns::StopServiceCommand(env_.dialect);
  if (!env_.launcher->Start(command, platform::WindowStyle::kMinimizedNoFocus)) {
    SetInformation("Could not start " + command.front() + " to stop the DNS cache service",
                   Colour::kRed);
  }
}

void Session::StartDnsService() {
  const auto command = dns::StartServiceCommand(env_.dialect);
  if (!env_.launcher->Start(command, platform::WindowStyle::kMinimizedNoFocus)) {
    SetInformation("Could not start " + command.front() + " to start the DNS cache service",
                   Colour::kRed);
  }
}

// ---- DNS cache capture
// --------------------------------------------------------------------------------------

std::string Session::CaptureFilePath() const {
  return ProgramFile(std::string(dns::kCaptureFileName));
}

bool Session::DoDnsDisplay() {
  if (!capture_) return false;
  const std::string capture = CaptureFilePath();
  switch (capture_->Start(env_.program_folder, ipconfig_path_, env_.dialect)) {
    case dns::Capture::StartError::kNone:
      return true;
    case dns::Capture::StartError::kNoTool:
      SetInformation(
          "No DNS cache tool: install systemd-resolved (it brings resolvectl) to show the cache",
          Colour::kRed);
      break;
    case dns::Capture::StartError::kFolderUnsafe:
      SetInformation(
          "Other users can change " + env_.program_folder + ": no DNS cache capture there as root",
          Colour::kRed);
      break;
    case dns::Capture::StartError::kLeftover:
      Log("Failed to Kill " + std::string(dns::kCaptureFileName));
      SetInformation("Could not remove " + capture + ": the DNS cache is not shown", Colour::kRed);
      break;
    case dns::Capture::StartError::kCannotCreate:
      SetInformation("Could not create " + capture + ": the DNS cache is not shown", Colour::kRed);
      break;
    case dns::Capture::StartError::kToolMissing:
    case dns::Capture::StartError::kCannotStart:
      SetInformation("Could not start " + ipconfig_path_ + ": the DNS cache is not shown",
                     Colour::kRed);
      break;
  }
  return false;
}

CapturePoll Session::PollCapture() {
  CapturePoll poll;
  if (!capture_) return poll;
  const dns::Capture::PollResult result = capture_->Poll();
  switch (result.state) {
    case dns::Capture::State::kIdle:
      return poll;
    case dns::Capture::State::kPending:
      if (capture_->Elapsed() <= capture_timeout_) {
        poll.state = CaptureState::kPending;
        return poll;
      }
      capture_->Cancel();
      SetInformation(ipconfig_path_ + " did not list the DNS cache within " +
                         (capture_timeout_.count() % 1000 == 0
                              ? std::to_string(capture_timeout_.count() / 1000) + " s"
                              : std::to_string(capture_timeout_.count()) + " ms") +
                         " and was stopped",
                     Colour::kRed);
      poll.state = CaptureState::kTimedOut;
      return poll;
    case dns::Capture::State::kFinished:
      poll.state = CaptureState::kFinished;
      poll.report = dns::BuildReport(result.text, env_.line_end);
      if (poll.report.size() > kReportBoxCapacity) {
        // Judged on what is put in, not on what a widget gives back.
        const auto cut = poll.report.rfind('\n', kReportBoxCapacity);
        poll.report.resize(cut == std::string::npos ? kReportBoxCapacity : cut + 1);
        poll.fits = false;
      }
      if (poll.report.empty()) {
        SetInformation(ipconfig_path_ +
                           " listed no DNS cache entries (resolvectl show-cache needs systemd "
                           "254 or later)",
                       Colour::kYellow);
      }
      return poll;
    case dns::Capture::State::kFailed:
      break;
  }
  SetInformation("The DNS cache capture in " + CaptureFilePath() + " could not be completed",
                 Colour::kRed);
  poll.state = CaptureState::kFailed;
  return poll;
}

void Session::CleanUp() {
  if (capture_) capture_->Cancel();
  (void)platform::RemoveEntry(CaptureFilePath());
  // The script that earlier versions ran the capture through.
  (void)platform::RemoveEntry(ProgramFile(dns::CaptureScriptName(env_.dialect)));
}

}  // namespace vellomar::session
