#include "fetch/fetch_list.h"

#include <memory>
#include <string_view>

#include "fetch/list_check.h"
#include "support/file_reader.h"

namespace vellomar::fetch {
namespace {

// Pieces are gathered up to this size before they are written: few writes, bounded memory.
constexpr std::size_t kWriteBlock = std::size_t{256} << 10;

Failure FailureOf(platform::HttpFailure failure) {
  switch (failure) {
    case platform::HttpFailure::kBadUrl:
      return Failure::kBadUrl;
    case platform::HttpFailure::kCannotConnect:
      return Failure::kCannotConnect;
    case platform::HttpFailure::kTimedOut:
      return Failure::kTimedOut;
    case platform::HttpFailure::kCertificate:
      return Failure::kCertificate;
    case platform::HttpFailure::kInsecureRedirect:
      return Failure::kInsecureRedirect;
    case platform::HttpFailure::kTooManyRedirects:
      return Failure::kTooManyRedirects;
    case platform::HttpFailure::kNone:
    case platform::HttpFailure::kStopped:
    case platform::HttpFailure::kBroken:
      break;
  }
  return Failure::kBroken;
}

Failure FailureOf(ListCheck::Verdict verdict) {
  switch (verdict) {
    case ListCheck::Verdict::kNulBytes:
      return Failure::kNulBytes;
    case ListCheck::Verdict::kHtml:
      return Failure::kHtml;
    case ListCheck::Verdict::kNoEntries:
      return Failure::kNoEntries;
    case ListCheck::Verdict::kPending:
    case ListCheck::Verdict::kList:
      break;
  }
  return Failure::kNone;
}

// The new copy as it arrives: counted, checked, and written a block at a time into a file beside
// the list, which is removed unless it is committed.
class Receiver {
 public:
  Receiver(std::string path, std::uint64_t max_bytes, support::LineEnd line_end,
           const FetchProgress& progress)
      : path_(std::move(path)), max_bytes_(max_bytes), line_end_(line_end), progress_(progress) {}

  bool Take(std::string_view piece) {
    bytes_ += piece.size();
    if (bytes_ > max_bytes_) return Stop(Failure::kTooLarge);
    if (const Failure wrong = FailureOf(check_.Feed(piece)); wrong != Failure::kNone) {
      return Stop(wrong);
    }
    // Room for a CR before every LF.
    if (block_.size() + 2 * piece.size() > kWriteBlock && !Flush()) return false;
    Append(piece);
    if (progress_) progress_(bytes_);
    return true;
  }

  // Puts the copy in place when it is whole and a hosts list; the failure otherwise.
  Failure Commit() {
    if (const Failure wrong = FailureOf(check_.Finish()); wrong != Failure::kNone) return wrong;
    if (!Flush()) return stopped_;
    return file_->Commit() == platform::ReplacementFile::CommitResult::kReplaced
               ? Failure::kNone
               : Failure::kNotWritten;
  }

  Failure Stopped() const { return stopped_; }
  // The length of the copy written: the bytes received, with the CRs a CR LF system adds.
  std::uint64_t Written() const { return written_; }

 private:
  // Lists are published with LF line ends; where lines end in CR LF, a bare LF is no line end
  // to the merge, so each one gets its CR here. CR LF pairs, split between pieces or not, stay.
  void Append(std::string_view piece) {
    if (line_end_ == support::LineEnd::kLf) {
      block_.append(piece);
    } else {
      for (const char c : piece) {
        if (c == '\n' && !after_cr_) block_.push_back('\r');
        block_.push_back(c);
        after_cr_ = c == '\r';
      }
    }
  }

  bool Stop(Failure why) {
    stopped_ = why;
    return false;
  }

  bool Flush() {
    if (!file_) {
      // The link or file at the list's name is never opened: the new copy is made beside it
      // and renamed over the name itself.
      file_ = platform::CreateReplacementFile(path_);
      if (!file_) return Stop(Failure::kNotWritten);
      block_.reserve(kWriteBlock);
    }
    if (!file_->Write(block_)) return Stop(Failure::kNotWritten);
    written_ += block_.size();
    block_.clear();
    return true;
  }

  std::string path_;
  std::uint64_t max_bytes_;
  support::LineEnd line_end_;
  const FetchProgress& progress_;
  std::uint64_t bytes_ = 0;
  std::uint64_t written_ = 0;
  bool after_cr_ = false;
  ListCheck check_;
  std::string block_;
  std::unique_ptr<platform::ReplacementFile> file_;
  Failure stopped_ = Failure::kNone;
};

}  // namespace

FetchResult FetchList(const std::string& folder, const std::string& name, const std::string& url,
                      Validators& kept, const FetchLimits& limits, support::LineEnd line_end,
                      const HttpGetter& get, const FetchProgress& progress) {
  FetchResult result;
  result.name = name;
  const std::string path = platform::JoinPath(folder, name);
  (void)platform::RemoveStaleReplacements(path);
  support::ReadOptions copy_options;
  copy_options.links = platform::Links::kRefuse;
  (void)support::OpenForReading(path, copy_options, result.read);
  result.had_copy = result.read == platform::ReadStatus::kOk;
  result.read = platform::ReadStatus::kOk;

  platform::HttpRequest request;
  request.url = url;
  request.timeout_ms = limits.timeout_ms;
  request.max_redirects = limits.max_redirects;
  request.extra_authorities = limits.extra_authorities;
  // Without a copy, or for another address, "unchanged" would keep nothing or the wrong list.
  if (result.had_copy && kept.url == url) {
    request.if_none_match = kept.etag;
    request.if_modified_since = kept.last_modified;
  }
  const bool conditional = !request.if_none_match.empty() || !request.if_modified_since.empty();

  Receiver receiver(path, limits.max_bytes, line_end, progress);
  const platform::HttpReply reply =
      get(request, [&receiver](std::string_view piece) { return receiver.Take(piece); });
  result.status = reply.status;
  result.detail = reply.detail;
  if (reply.failure == platform::HttpFailure::kStopped && receiver.Stopped() != Failure::kNone) {
    result.failure = receiver.Stopped();
  } else if (reply.failure != platform::HttpFailure::kNone) {
    result.failure = FailureOf(reply.failure);
  } else if (reply.status == 304 && conditional) {
    result.outcome = Outcome::kUnchanged;
    if (!reply.etag.empty()) kept.etag = reply.etag;
    if (!reply.last_modified.empty()) kept.last_modified = reply.last_modified;
    return result;
  } else if (reply.status != 200) {
    result.failure = Failure::kStatus;
  } else {
    result.failure = receiver.Commit();
  }
  if (result.failure == Failure::kNone) {
    result.outcome = Outcome::kUpdated;
    result.bytes = receiver.Written();
    kept = Validators{url, reply.etag, reply.last_modified};
  }
  return result;
}

}  // namespace vellomar::fetch
