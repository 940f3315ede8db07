#include "session/session.h"

#include <algorithm>

#include "catalogue/source_list.h"
#include "catalogue/version_report.h"
#include "dns/commands.h"
#include "dns/report.h"
#include "export/allow_list.h"
#include "fetch/fetch_state.h"
#include "fetch/subscription.h"
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

void Session::StartUp() {
  ProbePaths();
  RecoverInterruptedInstall();
  RefreshVersions(Sides::kBoth);
  ListAndTickSources();
  SetMode(merge::kDefaultAddressMode);
  MergeTickedEntries();
  ReportAdminState();
  ShowListingNotice();
}

void Session::Refresh() {
  RefreshVersions(Sides::kBoth);
  ListAndTickSources();
  MergeTickedEntries();
  ShowListingNotice();
}

void Session::ProbePaths() {
  editor_path_ = platform::FirstExisting(env_.editor_candidates);
  resolver_tool_path_ = platform::FirstExisting(env_.resolver_candidates);
  hosts_file_path_ = platform::FirstExisting(env_.hosts_candidates);
  probed_hosts_path_ = hosts_file_path_;
  merged_file_path_ = ProgramFile("M_Hosts.txt");
  folder_problem_.reset();
  const platform::ProgramFolderChoice& choice = env_.folder_choice;
  platform::FolderProblem problem = choice.problem;
  std::string folder = choice.problem_folder;
  if (env_.program_folder.empty()) {
    problem = platform::FolderProblem::kUnnamed;
  } else if (problem == platform::FolderProblem::kNone && platform::EffectiveUser() == 0) {
    const auto safety = platform::CheckFolderSafety(env_.program_folder);
    // Another user could swap what root writes or appends there for a link or a pipe.
    if (safety != platform::FolderSafety::kSafe && safety != platform::FolderSafety::kMissing) {
      problem = platform::FolderProblem::kUnsafe;
      folder = env_.program_folder;
    }
  }
  if (problem == platform::FolderProblem::kNone) return;
  Status status;
  status.kind = Status::Kind::kFolderProblem;
  status.tone = Tone::kFailure;
  status.folder_problem = problem;
  status.subject = folder;
  status.detail = choice.reason;
  folder_problem_ = std::move(status);
  log_.path.clear();
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

void Session::Report(Status::Kind kind, Tone tone, std::string subject, std::string detail) {
  information_ = Status{};
  information_.kind = kind;
  information_.tone = tone;
  information_.subject = std::move(subject);
  information_.detail = std::move(detail);
}

void Session::ReportProgram(Status::Kind kind, const std::string& program,
                            Status::Purpose purpose) {
  Report(kind, Tone::kFailure, program);
  information_.purpose = purpose;
}

void Session::AddNote(std::string text) {
  information_.addenda.push_back({Addendum::Kind::kNote, std::move(text)});
}

void Session::ReportAdminState() {
  // The tone of what was said before stays, as the start-up's own reports had it.
  const Tone tone = information_.tone;
  if (folder_problem_) {
    information_ = *folder_problem_;
  } else if (env_.is_admin && env_.is_admin()) {
    Report(Status::Kind::kAdminUser, tone);
  } else if (InstallsThroughAdministrator()) {
    Report(Status::Kind::kAsksForPassword, Tone::kNeutral);
  } else {
    Report(Status::Kind::kMayNeedAdmin, Tone::kFailure);
  }
}

// ---- Source catalogue -----------------------------------------------------------------------

void Session::ListSources() {
  // Only ever the program's own source folder: a missing one lists nothing rather than
  // whatever folder the process happens to start in.
  source_folder_ = ProgramFile(std::string(catalogue::kSourceFolderName));
  entries_.clear();
  listing_notice_.reset();
  if (const auto listing = catalogue::ListSources(source_folder_)) {
    for (const auto& name : listing->names) entries_.push_back({name, false});
    if (!listing->unmergeable.empty()) {
      std::string names;
      for (const auto& name : listing->unmergeable) names += (names.empty() ? "" : ", ") + name;
      listing_notice_ = Addendum{Addendum::Kind::kNotListed, names};
    }
  } else {
    listing_notice_ = Addendum{Addendum::Kind::kNoSourceFolder, source_folder_};
  }
  ++generation_;
}

void Session::ShowListingNotice() {
  // A folder that may not be used explains a listing that found nothing.
  if (!listing_notice_ || folder_problem_) return;
  information_.addenda.push_back(*listing_notice_);
  information_.tone = Tone::kFailure;
}

void Session::ListAndTickSources() {
  ListSources();
  if (!entries_.empty()) SetTicked(0, true);
  ReadDatedLines(hosts_file_path_, true);
}

void Session::SetTicked(std::size_t index, bool ticked) {
  if (index >= entries_.size() || entries_[index].ticked == ticked) return;
  entries_[index].ticked = ticked;
  OnSelectionChanged();
}

void Session::SetTickedQuietly(std::size_t index, bool ticked) {
  selecting_from_hosts_ = true;
  SetTicked(index, ticked);
  selecting_from_hosts_ = false;
}

void Session::OnSelectionChanged() {
  if (selecting_from_hosts_) return;
  if (merge_click_busy_) return;
  merge_click_busy_ = true;
  MergeTickedEntries();
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

void Session::ShowFileSummary(std::size_t index) {
  if (index < entries_.size()) {
    Report(Status::Kind::kFileSummary, information_.tone, FileSummary(EntryPath(index)));
  }
}

std::size_t Session::TickedCount() const {
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.ticked; }));
}

// ---- Subscriptions ---------------------------------------------------------------------------

std::vector<std::string> Session::Subscriptions() const {
  if (folder_problem_ || env_.program_folder.empty()) return {};
  const std::string folder = ProgramFile(std::string(catalogue::kSourceFolderName));
  return fetch::ListSubscriptions(folder).value_or(std::vector<std::string>{});
}

std::vector<fetch::FetchResult> Session::FetchSubscriptions(const std::vector<std::string>& names,
                                                            const FetchOptions& options,
                                                            FetchScope scope) {
  std::vector<fetch::FetchResult> results;
  if (folder_problem_ || env_.program_folder.empty() || !env_.http_get) return results;
  const std::string folder = ProgramFile(std::string(catalogue::kSourceFolderName));
  std::vector<std::string> chosen;
  if (scope == FetchScope::kNamed) {
    chosen = names;
  } else {
    for (auto& name : Subscriptions()) {
      const bool missing =
          !platform::FileExists(platform::JoinPath(folder, fetch::ListNameOf(name)));
      if (scope == FetchScope::kAll || missing) chosen.push_back(std::move(name));
    }
  }
  const std::string state_path = ProgramFile(std::string(fetch::kFetchStateName));
  fetch::FetchState state = fetch::LoadFetchState(state_path);
  const fetch::FetchState loaded = state;
  for (const auto& given : chosen) {
    const auto subscription = fetch::SubscriptionNamed(given);
    fetch::FetchResult result;
    result.name = subscription ? fetch::ListNameOf(*subscription) : given;
    const fetch::Subscription read =
        subscription ? fetch::ReadSubscription(folder, *subscription)
                     : fetch::Subscription{
                           {}, fetch::NotSubscription::kUnreadable, platform::ReadStatus::kMissing};
    if (read.why != fetch::NotSubscription::kNone) {
      result.failure = fetch::Failure::kNotSubscription;
      result.not_subscription = read.why;
      result.read = read.read;
      result.had_copy = platform::FileExists(platform::JoinPath(folder, result.name));
      results.push_back(std::move(result));
      continue;
    }
    fetch::Validators kept = state.count(result.name) ? state[result.name] : fetch::Validators{};
    const std::string list = result.name;
    if (on_fetch_progress) on_fetch_progress(list, 0);
    result = fetch::FetchList(folder, list, read.url, kept, options, env_.line_end, env_.http_get,
                              [this, &list](std::uint64_t bytes) {
                                if (on_fetch_progress) on_fetch_progress(list, bytes);
                              });
    if (kept.etag.empty() && kept.last_modified.empty()) {
      state.erase(list);
    } else {
      state[list] = kept;
    }
    results.push_back(std::move(result));
  }
  if (state != loaded && !fetch::SaveFetchState(state_path, state))
    Log("Could not Write " + state_path);
  return results;
}

void Session::UpdateSourcesFromWeb() {
  if (folder_problem_) {
    information_ = *folder_problem_;
    return;
  }
  std::vector<fetch::FetchResult> results =
      FetchSubscriptions({}, FetchOptions{}, FetchScope::kAll);
  Refresh();
  const bool failed = std::any_of(results.begin(), results.end(), [](const auto& result) {
    return result.outcome == fetch::Outcome::kFailed;
  });
  if (results.empty()) {
    Report(Status::Kind::kNoSubscriptions, Tone::kNeutral);
    return;
  }
  Report(Status::Kind::kSourcesFetched, failed ? Tone::kFailure : Tone::kNeutral);
  information_.fetched = std::move(results);
}

// ---- Who maps a name --------------------------------------------------------------------------

std::optional<exports::NameQuery> Session::FindName(const std::string& name) {
  if (folder_problem_) {
    information_ = *folder_problem_;
    return std::nullopt;
  }
  const auto looked_for = exports::QueryableName(name);
  if (!looked_for) {
    Report(Status::Kind::kNameNotValid, Tone::kWarning, name);
    return std::nullopt;
  }
  exports::NameQuery query =
      exports::QueryName(ProgramFile(std::string(catalogue::kSourceFolderName)), hosts_file_path_,
                         *looked_for, read_chunk_bytes_);
  const bool unread = !query.unread.empty() || query.allow_status != platform::ReadStatus::kOk;
  Report(Status::Kind::kNameQueried, unread ? Tone::kWarning : Tone::kNeutral);
  information_.query = query;
  return query;
}

// ---- Header reader and version report ------------------------------------------------------

std::string Session::FileSummary(const std::string& path) const {
  return catalogue::FileSummary(path, env_.line_end);
}

std::string Session::ReadDatedLines(const std::string& path, bool is_installed) {
  return TakeDatedLines(catalogue::ReadHeaderFile(path, env_.line_end), is_installed);
}

std::string Session::TakeDatedLines(const catalogue::HeaderReport& report, bool is_installed) {
  std::string& created = is_installed ? current_created_ : merged_created_;
  std::string& updated = is_installed ? current_updated_ : merged_updated_;
  const std::string fallback(is_installed ? catalogue::kCurrentDefault : catalogue::kMergedDefault);
  created = report.created.value_or(fallback);
  updated = report.updated.value_or(fallback);
  for (const auto& name : report.source_names) {
    if (const auto index = FindEntry(name)) SetTickedQuietly(*index, true);
  }
  return report.version_text;
}

void Session::RefreshVersions(Sides sides) {
  if (sides != Sides::kMerged) {
    std::string version;
    if (catalogue::IsReadableForReport(hosts_file_path_)) {
      current_.summary = FileSummary(hosts_file_path_);
      version = ReadDatedLines(hosts_file_path_, true);
    }
    current_.tone = Tone::kNeutral;
    current_.version_text = std::move(version);
  }
  if (sides == Sides::kInstalled) return;
  merged_.tone = Tone::kWarning;
  merged_.version_text.clear();
  if (!catalogue::IsReadableForReport(merged_file_path_)) return;
  merged_.tone = Tone::kNeutral;
  merged_.summary = FileSummary(merged_file_path_);
  merged_.version_text = ReadDatedLines(merged_file_path_, false);
  if (!VersionsMatch()) merged_.tone = Tone::kWarning;
}

void Session::RefreshMergedSide(const std::string& summary, const catalogue::HeaderReport& report) {
  merged_.tone = Tone::kWarning;
  merged_.version_text.clear();
  // The size rule is judged on the open file, as for any other report.
  if (!catalogue::IsReadableForReport(merged_file_path_)) return;
  merged_.tone = Tone::kNeutral;
  merged_.summary = summary;
  merged_.version_text = TakeDatedLines(report, false);
  if (!VersionsMatch()) merged_.tone = Tone::kWarning;
}

bool Session::HoldsWritten(std::uint64_t bytes) const {
  platform::ReadStatus status;
  const platform::InputFile file = support::OpenForReading(merged_file_path_, {}, status);
  return status == platform::ReadStatus::kOk && file.Facts().size == bytes;
}

bool Session::VersionsMatch() const {
  return merged_updated_ == current_updated_ && merged_created_ == current_created_;
}

// ---- Address mode ------------------------------------------------------------------------

void Session::SetMode(merge::AddressMode mode) {
  merge::MergeOptions options = merge_options_;
  options.mode = mode;
  SetMergeSettings(options);
}

void Session::SetDedupe(bool dedupe) {
  merge::MergeOptions options = merge_options_;
  options.dedupe = dedupe;
  SetMergeSettings(options);
}

void Session::SetMergeSettings(const merge::MergeOptions& options) {
  if (options == merge_options_) return;
  merge_options_ = options;
  OnSelectionChanged();
}

// ---- Merge --------------------------------------------------------------------------------

std::string Session::HostNameForMerge() {
  const std::string name = env_.host_name ? env_.host_name() : std::string();
  host_name_refused_ = !name.empty() && !merge::IsValidHostName(name);
  return host_name_refused_ ? std::string() : name;
}

std::string Session::ShownMergedFile() const {
  return support::ReplaceAll(merged_file_path_, env_.program_folder + platform::PathSeparator(),
                             "");
}

MergeResult Session::MergeTickedEntries() {
  // A call raised by the run's own untickings must leave the running merge alone.
  if (merge_running_) return MergeResult::kAlreadyMerging;
  const auto first = std::find_if(entries_.begin(), entries_.end(),
                                  [](const Entry& entry) { return entry.ticked; });
  if (first == entries_.end()) {
    Report(Status::Kind::kNoSelection, Tone::kWarning);
    merge_problem_ = information_;
    return MergeResult::kNoSelection;
  }
  if (!merge::IsHeaderEntry(first->name)) {
    Report(Status::Kind::kNoHeader, Tone::kWarning);
    merge_problem_ = information_;
    return MergeResult::kNoHeader;
  }
  if (folder_problem_) {
    information_ = *folder_problem_;
    merge_problem_ = information_;
    return MergeResult::kRefusedFolder;
  }
  merge_running_ = true;
  Report(Status::Kind::kScanning, Tone::kNeutral);
  const support::ReadOptions read_options = support::SourceReadOptions(source_folder_);
  std::vector<SkippedSource> skipped;

  const std::string date = env_.clock ? env_.clock() : std::string();
  merge::MergeWriter writer(merged_file_path_, merge_options_.mode, env_.line_end, date,
                            HostNameForMerge(), env_.os);
  // An allowlist that is there but cannot be read fails the merge as a source would: a file
  // merged without it would block what the user allowed.
  platform::ReadStatus allow_read = platform::ReadStatus::kOk;
  const exports::AllowList allow = exports::AllowList::Load(source_folder_, allow_read);
  if (allow_read != platform::ReadStatus::kOk) {
    Log("Could not Read " +
        platform::JoinPath(source_folder_, std::string(exports::kAllowListName)));
    skipped.push_back({std::string(exports::kAllowListName), allow_read});
  }
  merge::NameRules rules;
  rules.dedupe = merge_options_.dedupe;
  rules.pack = merge_options_.pack;
  if (!allow.Empty())
    rules.allowed = [&allow](std::string_view name) { return allow.Allows(name); };
  writer.SetNameRules(std::move(rules));
  // The summary and the dated lines of the merged file, worked out from the bytes written.
  catalogue::TextTally tally(env_.line_end);
  writer.WatchOutput([&tally](std::string_view bytes) { tally.Add(bytes); });
  bool header_taken = false;
  bool mvps_taken = false;
  // One buffer of fixed size for every source, whatever its length.
  // Page-aligned: copies out of the file cache into an unaligned buffer are several times slower.
  support::BlockBuffer chunk(read_chunk_bytes_);
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
    platform::ReadStatus read;
    platform::InputFile file = support::OpenForReading(path, read_options, read);
    if (read == platform::ReadStatus::kOk) {
      if (current_is_header) {
        writer.BeginHeader(file.Facts().size);
      } else {
        writer.BeginSource(name, file.Facts().size);
      }
      const catalogue::TextTally before = tally;
      read = support::ReadInChunks(file, read_options, {chunk.data(), chunk.size()},
                                   [&writer](std::string_view piece) { writer.Add(piece); });
      if (read == platform::ReadStatus::kOk) {
        writer.EndFile();
      } else {
        writer.DropFile();
        tally = before;
      }
    }
    if (read != platform::ReadStatus::kOk) {
      // Never an empty block in its place: the next install would drop its entries silently.
      Log("Could not Read " + path);
      skipped.push_back({name, read});
      continue;
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
  // The file just written is read back only when it is not, by its length, the one written
  // (something changed it in between): the status tells what is on disk.
  const bool as_written = result == MergeResult::kMerged && HoldsWritten(tally.Bytes());
  const std::string summary = as_written ? tally.Summary() : std::string();
  if (result == MergeResult::kMerged) {
    // One that left a ticked source out is not a merge of what was ticked: never installed.
    Report(Status::Kind::kMerged, skipped.empty() ? Tone::kNeutral : Tone::kFailure,
           as_written ? summary : FileSummary(merged_file_path_), ShownMergedFile());
    information_.skipped = std::move(skipped);
    if (host_name_refused_) information_.addenda.push_back({Addendum::Kind::kHostNameNotValid, {}});
    const merge::NamesLeftOut left_out = writer.LeftOut();
    if (!allow.Empty()) {
      information_.addenda.push_back(
          {Addendum::Kind::kNamesAllowed, std::to_string(left_out.allowed)});
    }
    if (merge_options_.dedupe) {
      information_.addenda.push_back(
          {Addendum::Kind::kDuplicatesLeftOut, std::to_string(left_out.duplicates)});
    }
    if (information_.skipped.empty()) {
      merge_problem_.reset();
    } else {
      merge_problem_ = information_;
    }
  } else {
    // A full disk or a file size limit: the old file stays, and must not pass for the new one.
    if (result != MergeResult::kNotReplaced) Log("Could not Write " + merged_file_path_);
    Report(result == MergeResult::kTooLarge ? Status::Kind::kMergeTooLarge
                                            : Status::Kind::kMergeNotWritten,
           Tone::kFailure, {}, ShownMergedFile());
    merge_problem_ = information_;
  }
  if (on_progress) on_progress("Write to HOSTS");
  merge_running_ = false;
  if (as_written) {
    // The summary and the dated lines of what was written; the status above has the summary.
    RefreshMergedSide(summary, tally.Finish());
  } else {
    // No new file: the old one on disk, which the writer never saw, is read.
    RefreshVersions(Sides::kMerged);
  }
  return result;
}

// ---- Install ------------------------------------------------------------------------------

bool Session::HostsHolds(const std::string& file) const {
  return !hosts_file_path_.empty() &&
         install::CompareApartFromCreated(file, hosts_file_path_) == install::Sameness::kSame;
}

bool Session::OwnEntriesKept(const std::string& file) {
  own_at_stake_.clear();
  // A hosts file the program wrote holds what the user merged: nothing of theirs is at stake.
  // One that cannot be read is the install's to report.
  const install::OwnEntries own = install::ReadOwnEntries(hosts_file_path_, true);
  if (own.status != platform::ReadStatus::kOk || own.has_start_marker || own.entries.empty()) {
    return false;
  }
  own_at_stake_ = install::EntriesMissingFrom(own.entries, file).value_or(own.entries);
  return !own_at_stake_.empty();
}

std::vector<std::string> Session::InstallFile(const std::string& file, bool force) {
  using Result = install::HostUpdateOutcome::Result;
  std::vector<std::string> written;
  log_sink_ = &written;
  missing_host_name_.clear();
  own_at_stake_.clear();
  last_install_ = Result::kNotInstalled;
  if (!platform::FileExists(file) || !platform::FileExists(hosts_file_path_)) {
    last_install_ = Result::kNothingToDo;  // as the install itself: silent
  } else if (!force && OwnEntriesKept(file)) {
    last_install_ = Result::kOwnEntriesKept;
  } else if (InstallsThroughAdministrator()) {
    // The helper takes the bytes whole on its input.
    std::string bytes;
    if (!ReadForInstall(file, bytes)) {
      last_install_ = Result::kNotRead;
    } else {
      CheckHostName(bytes);
      last_install_ = InstallAsAdministrator(bytes);
    }
  } else {
    platform::InputFile opened;
    if (!OpenForInstall(file, opened)) {
      last_install_ = Result::kNotRead;
    } else if (LockInstalls()) {
      last_install_ = InstallHere(file, opened);
    } else {
      last_install_ = Result::kBusy;
    }
  }
  log_sink_ = nullptr;
  install_lock_.reset();
  return written;
}

install::HostUpdateOutcome::Result Session::InstallHere(const std::string& path,
                                                        platform::InputFile& file) {
  // The name is looked for in the bytes as they are copied, and in the replaced hosts file as
  // it is backed up, only while the new bytes have not named it.
  const std::string name = HostNameForMerge();
  install::HostNameFinder in_new(name, env_.line_end);
  install::HostNameFinder in_old(name, env_.line_end);
  install::InstallWatch watch;
  if (!name.empty()) {
    watch.new_bytes = [&](std::string_view block) { in_new.Add(block); };
    watch.old_bytes = [&](std::string_view block) {
      if (!in_new.Found()) in_old.Add(block);
    };
  }
  const install::HostUpdateOutcome outcome =
      install::InstallHostsFile(file, hosts_file_path_, log_, watch);
  if (outcome.result == install::HostUpdateOutcome::Result::kNotRead) {
    LogNotRead(path, outcome.read_status);
  } else if (!in_new.Found() && in_old.Found()) {
    missing_host_name_ = name;
  }
  return outcome.result;
}

bool Session::ReadForInstall(const std::string& file, std::string& bytes) {
  // Read once, never through a link, so that exactly these bytes are installed; an empty file
  // cannot be told from an unreadable one and is never installed.
  const platform::ReadStatus read =
      support::ReadWholeFile(file, bytes, support::InstallReadOptions());
  if (read == platform::ReadStatus::kOk && !bytes.empty()) return true;
  LogNotRead(file, read);
  return false;
}

bool Session::OpenForInstall(const std::string& file, platform::InputFile& opened) {
  // Opened once, never through a link: the bytes installed are read through this descriptor.
  platform::ReadStatus read;
  opened = support::OpenForReading(file, support::InstallReadOptions(), read);
  if (read == platform::ReadStatus::kOk && opened.Facts().size > 0) return true;
  LogNotRead(file, read);
  return false;
}

void Session::LogNotRead(const std::string& file, platform::ReadStatus why) {
  const std::string_view text = why == platform::ReadStatus::kNotText      ? install::kNotAHostsFile
                                : why == platform::ReadStatus::kUnsafePath ? install::kUnsafeFolder
                                                                           : install::kCouldNotFind;
  Log(std::string(text) + file);
}

void Session::CheckHostName(std::string_view bytes) {
  const std::string name = HostNameForMerge();
  if (name.empty() || install::NamesHost(bytes, name, env_.line_end)) return;
  std::string current;
  if (support::ReadWholeFile(hosts_file_path_, current) != platform::ReadStatus::kOk ||
      !install::NamesHost(current, name, env_.line_end)) {
    return;
  }
  missing_host_name_ = name;
}

bool Session::InstallsThroughAdministrator() const {
  return !env_.privileged_install.empty() && env_.launcher != nullptr &&
         !(env_.is_admin && env_.is_admin()) && !hosts_file_path_.empty() &&
         hosts_file_path_ == probed_hosts_path_;
}

install::HostUpdateOutcome::Result Session::InstallAsAdministrator(std::string_view bytes) {
  const platform::RunResult run = env_.launcher->RunPrivileged(env_.privileged_install, bytes);
  const install::PrivilegedOutcome outcome = install::ReadHelperExit(run, env_.privileged_install);
  for (const auto& line : outcome.log_lines) Log(line);
  last_refusal_ = outcome.refusal;
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

Verdict Session::JudgeInstall(bool auto_flush) {
  // One read of both files gives the verdict on the bytes and, when they agree, what both
  // version boxes show. Bytes that could not be compared (a read that failed half-way) leave
  // the verdict to the version texts and to what the install itself reported: a completed
  // install is never called failed, nor a failed one done.
  catalogue::TextTally report(env_.line_end);
  install::CompareOptions compare;
  compare.on_same_block = [&](std::string_view block) { report.Add(block); };
  install::Sameness judged = install::CompareFiles(merged_file_path_, hosts_file_path_, compare);
  std::string summary;
  if (judged == install::Sameness::kSame) {
    summary = report.Summary();
    const catalogue::HeaderReport header = report.Finish();
    // As RefreshVersions shows a file of these bytes, on either side.
    const bool reportable = report.Bytes() >= catalogue::kMinReportBytes;
    for (VersionSide* side : {&current_, &merged_}) {
      const bool is_installed = side == &current_;
      side->tone = Tone::kNeutral;
      side->version_text.clear();
      if (!reportable) continue;
      side->summary = summary;
      side->version_text = TakeDatedLines(header, is_installed);
    }
    if (!reportable) merged_.tone = Tone::kWarning;
  } else {
    RefreshVersions(Sides::kBoth);
    summary = FileSummary(merged_file_path_);
    if (judged == install::Sameness::kUnknown && !merged_.version_text.empty() &&
        merged_.version_text != current_.version_text) {
      judged = install::Sameness::kDifferent;
    }
  }
  const bool failed = judged == install::Sameness::kDifferent ||
                      (judged == install::Sameness::kUnknown &&
                       last_install_ != install::HostUpdateOutcome::Result::kInstalled);
  if (failed) {
    current_.tone = Tone::kWarning;
    merged_.tone = Tone::kWarning;
    Report(Status::Kind::kInstallFailed, Tone::kFailure);
    return Verdict::kFailed;
  }
  current_.tone = Tone::kNeutral;
  merged_.tone = Tone::kNeutral;
  Report(Status::Kind::kInstalled, Tone::kSuccess, summary);
  // Without a resolver tool there is no cache to flush; a tool that cannot start is said.
  if (auto_flush && !resolver_tool_path_.empty() &&
      !env_.launcher->Start(dns::FlushCommand(resolver_tool_path_, env_.os),
                            platform::WindowStyle::kMinimizedNoFocus)) {
    information_.addenda.push_back({Addendum::Kind::kFlushFailed, resolver_tool_path_});
  }
  return Verdict::kInstalled;
}

Verdict Session::MergeAndInstall(bool auto_flush, bool force) {
  MergeTickedEntries();
  return InstallMerged(auto_flush, force);
}

Verdict Session::InstallMerged(bool auto_flush, bool force) {
  using Result = install::HostUpdateOutcome::Result;
  if (merge_problem_) {
    // The merged file on disk is an older one, or not what was ticked: installing it would
    // report a false success.
    information_ = *merge_problem_;
    information_.tone = Tone::kFailure;
    information_.addenda.push_back({Addendum::Kind::kHostsNotWritten, {}});
    return Verdict::kFailed;
  }
  InstallFile(merged_file_path_, force);
  if (last_install_ == Result::kNotAuthorized || last_install_ == Result::kBusy ||
      last_install_ == Result::kOwnEntriesKept) {
    RefreshVersions(Sides::kBoth);
  }
  if (last_install_ == Result::kOwnEntriesKept) {
    Report(Status::Kind::kOwnEntriesKept, Tone::kWarning, std::to_string(own_at_stake_.size()));
    return Verdict::kOwnEntriesAtStake;
  }
  if (last_install_ == Result::kNotAuthorized) {
    // Nothing was tried: no write failed, so the verdict's text would mislead.
    Report(Status::Kind::kAuthRefused,
           last_refusal_ == AuthRefusal::kDismissed ? Tone::kWarning : Tone::kFailure);
    information_.refusal = last_refusal_;
    return Verdict::kFailed;
  }
  if (last_install_ == Result::kBusy) {
    Report(Status::Kind::kInstallBusy, Tone::kFailure);
    return Verdict::kFailed;
  }
  const Verdict verdict = JudgeInstall(auto_flush);
  if (last_install_ == Result::kDamaged) {
    Report(Status::Kind::kHostsDamaged, Tone::kFailure, hosts_file_path_);
  } else if (verdict == Verdict::kInstalled && !missing_host_name_.empty()) {
    information_.addenda.push_back({Addendum::Kind::kHostNameMissing, missing_host_name_});
  }
  return verdict;
}

// ---- Programs -------------------------------------------------------------------------------

void Session::OpenInEditor(const std::string& path) {
  if (!platform::FileExists(path)) return;
  if (editor_path_.empty()) {
    Report(Status::Kind::kNoEditor, Tone::kFailure);
    return;
  }
  // Program and path as separate arguments, so a path with blanks reaches the editor whole.
  if (!env_.launcher->Start({editor_path_, path}, platform::WindowStyle::kNormalFocus)) {
    ReportProgram(Status::Kind::kCannotStart, editor_path_, Status::Purpose::kEdit);
  }
}

void Session::ShellOpen(const std::string& target) {
  if (!support::ShellOpen(*env_.launcher, target)) {
    Report(Status::Kind::kCannotOpen, Tone::kFailure, target);
  }
}

bool Session::FlushResolverCache() {
  if (resolver_tool_path_.empty()) {
    ReportProgram(Status::Kind::kNoDnsTool, {}, Status::Purpose::kFlush);
    return false;
  }
  if (env_.launcher->Start(dns::FlushCommand(resolver_tool_path_, env_.os),
                           platform::WindowStyle::kMinimizedNoFocus)) {
    return true;
  }
  ReportProgram(Status::Kind::kCannotStart, resolver_tool_path_, Status::Purpose::kFlush);
  return false;
}

void Session::StopDnsService() {
  const auto command = dns::StopServiceCommand(env_.os);
  if (!env_.launcher->Start(command, platform::WindowStyle::kMinimizedNoFocus)) {
    ReportProgram(Status::Kind::kCannotStart, command.front(), Status::Purpose::kStopService);
  }
}

void Session::StartDnsService() {
  const auto command = dns::StartServiceCommand(env_.os);
  if (!env_.launcher->Start(command, platform::WindowStyle::kMinimizedNoFocus)) {
    ReportProgram(Status::Kind::kCannotStart, command.front(), Status::Purpose::kStartService);
  }
}

// ---- DNS cache capture ----------------------------------------------------------------------

std::string Session::CaptureFilePath() const {
  return ProgramFile(std::string(dns::kCaptureFileName));
}

bool Session::StartCacheCapture() {
  if (!capture_) return false;
  const std::string capture = CaptureFilePath();
  switch (capture_->Start(env_.program_folder, resolver_tool_path_, env_.os)) {
    case dns::Capture::StartError::kNone:
      return true;
    case dns::Capture::StartError::kNoTool:
      ReportProgram(Status::Kind::kNoDnsTool, {}, Status::Purpose::kShowCache);
      break;
    case dns::Capture::StartError::kFolderUnsafe:
      Report(Status::Kind::kCaptureUnsafe, Tone::kFailure, env_.program_folder);
      break;
    case dns::Capture::StartError::kLeftover:
      Log("Failed to Kill " + std::string(dns::kCaptureFileName));
      Report(Status::Kind::kCaptureLeftover, Tone::kFailure, capture);
      break;
    case dns::Capture::StartError::kCannotCreate:
      Report(Status::Kind::kCaptureNotCreated, Tone::kFailure, capture);
      break;
    case dns::Capture::StartError::kToolMissing:
    case dns::Capture::StartError::kCannotStart:
      ReportProgram(Status::Kind::kCannotStart, resolver_tool_path_, Status::Purpose::kShowCache);
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
      Report(Status::Kind::kCaptureTimedOut, Tone::kFailure, resolver_tool_path_,
             std::to_string(capture_timeout_.count()));
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
        Report(Status::Kind::kCacheEmpty, Tone::kWarning, resolver_tool_path_);
      }
      return poll;
    case dns::Capture::State::kFailed:
      break;
  }
  Report(Status::Kind::kCaptureFailed, Tone::kFailure, CaptureFilePath());
  poll.state = CaptureState::kFailed;
  return poll;
}

void Session::CleanUp() {
  if (capture_) capture_->Cancel();
  (void)platform::RemoveEntry(CaptureFilePath());
  // The script that earlier versions ran the capture through.
  (void)platform::RemoveEntry(ProgramFile(dns::CaptureScriptName(env_.os)));
}

}  // namespace vellomar::session
