#include "dns/capture.h"

#include "support/line_end.h"

namespace vellomar::dns {

std::vector<std::string> ListCommand(const std::string& tool_path, platform::OsFamily os) {
  return {tool_path, os == platform::OsFamily::kWindows ? "/displaydns" : "show-cache"};
}

Capture::Capture(platform::Launcher& launcher) : launcher_(launcher) {}

Capture::~Capture() { Cancel(); }

Capture::StartError Capture::Start(const std::string& folder, const std::string& tool_path,
                                   platform::OsFamily os) {
  Cancel();
  path_ = platform::JoinPath(folder, std::string(kCaptureFileName));
  os_ = os;
  // Root touches nothing in a folder where others could swap entries under it.
  if (platform::EffectiveUser() == 0 &&
      platform::CheckFolderSafety(folder) != platform::FolderSafety::kSafe) {
    return StartError::kFolderUnsafe;
  }
  // Old capture files go first, even when no tool is there to make a new one. The entry itself
  // goes, whatever it is: a link's target, a pipe's reader are never touched.
  if (platform::RemoveEntry(path_) == platform::RemoveResult::kFailed) {
    return StartError::kLeftover;
  }
  if (tool_path.empty()) return StartError::kNoTool;
  auto file = platform::CreateOwnFile(path_);
  if (!file) return StartError::kCannotCreate;
  platform::StartResult started = platform::StartResult::kCannotStart;
  auto child = launcher_.StartWithOutput(ListCommand(tool_path, os), *file, started);
  if (!child) {
    file.reset();
    (void)platform::RemoveEntry(path_);  // our own empty file; a failure leaves only that
    return started == platform::StartResult::kProgramMissing ? StartError::kToolMissing
                                                             : StartError::kCannotStart;
  }
  file_ = std::move(file);
  child_ = std::move(child);
  started_ = std::chrono::steady_clock::now();
  return StartError::kNone;
}

Capture::PollResult Capture::Poll() {
  PollResult result;
  if (!Pending()) return result;
  if (child_ && !child_->HasEnded()) {
    result.state = State::kPending;
    return result;
  }
  child_.reset();
  const support::LineEnd line_end =
      os_ == platform::OsFamily::kWindows ? support::LineEnd::kCrLf : support::LineEnd::kLf;
  const std::string marker_line =
      std::string(kFinishedMarker).append(support::LineEndText(line_end));
  const bool marked = file_->Append(marker_line);
  const bool read = marked && file_->ReadAll(result.text) == platform::ReadStatus::kOk;
  result.state = read ? State::kFinished : State::kFailed;
  if (!read) result.text.clear();
  file_.reset();  // the file stays on disk for the editor; it goes at the next Start
  return result;
}

void Capture::Cancel() {
  if (!Pending()) return;
  if (child_) child_->Kill();
  Release();
  (void)platform::RemoveEntry(path_);
}

void Capture::Release() {
  child_.reset();
  file_.reset();
}

std::chrono::steady_clock::duration Capture::Elapsed() const {
  if (!Pending()) return {};
  return std::chrono::steady_clock::now() - started_;
}

}  // namespace vellomar::dns
