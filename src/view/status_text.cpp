#include "view/status_text.h"

#include <algorithm>

#include "export/allow_list.h"
#include "merge/markers.h"
#include "merge/merge_writer.h"

namespace vellomar::view {
namespace {

using session::Status;

std::string ProgramText(const Status& status) {
  const std::string& program = status.subject;
  switch (status.purpose) {
    case Status::Purpose::kEdit:
      return "Could not start " + program;
    case Status::Purpose::kFlush:
      return "Could not start " + program + " to flush the DNS cache";
    case Status::Purpose::kStopService:
      return "Could not start " + program + " to stop the DNS cache service";
    case Status::Purpose::kStartService:
      return "Could not start " + program + " to start the DNS cache service";
    case Status::Purpose::kShowCache:
      break;
  }
  return "Could not start " + program + ": the DNS cache is not shown";
}

std::string FolderProblemText(const Status& status) {
  const std::string& folder = status.subject;
  switch (status.folder_problem) {
    case platform::FolderProblem::kUnsafe:
      return "Other users can change " + folder + ": nothing is written there as root";
    case platform::FolderProblem::kUnnamed:
      return "The folder of this program cannot be named: nothing is read or written";
    case platform::FolderProblem::kNoHome:
      return "No home folder: nothing is written (" + folder + " cannot be written)";
    case platform::FolderProblem::kCannotCreate:
      return "Could not create the data folder " + folder +
             (status.detail.empty() ? "" : ": " + status.detail) + " - nothing is written";
    case platform::FolderProblem::kSamplesNotCopied:
      return "Could not copy the sample sources to " + folder;
    case platform::FolderProblem::kNone:
      break;
  }
  return {};
}

// "H_AdServers.txt:123"
std::string PlaceText(const exports::NamePlace& place) {
  return place.file + ":" + std::to_string(place.at.line);
}

}  // namespace

std::string NameQueryText(const exports::NameQuery& query) {
  std::vector<std::string> blocking;
  std::vector<std::string> mapping;
  for (const auto& place : query.places) {
    if (place.hosts_file) continue;
    auto& list = place.at.blocks ? blocking : mapping;
    if (blocking.size() + mapping.size() < kListedPlaces) {
      list.push_back(place.at.blocks ? PlaceText(place)
                                     : PlaceText(place) + " to " + place.at.address);
    }
  }
  const auto joined = [](const std::vector<std::string>& list) {
    std::string text;
    for (const auto& item : list) text += (text.empty() ? "" : ", ") + item;
    return text;
  };
  std::vector<std::string> parts;
  if (!blocking.empty()) parts.push_back("blocked by " + joined(blocking));
  if (!mapping.empty()) parts.push_back("mapped by " + joined(mapping));
  const auto sources = static_cast<std::uint64_t>(
      std::count_if(query.places.begin(), query.places.end(),
                    [](const auto& place) { return !place.hosts_file; }));
  const std::uint64_t unlisted = sources - blocking.size() - mapping.size() + query.more_places;
  if (unlisted > 0) parts.push_back(std::to_string(unlisted) + " more lines");
  if (!query.InSources()) parts.push_back("no source maps it");
  if (query.InHostsFile()) parts.push_back("in the hosts file");
  if (query.allowed) parts.push_back("allowed by " + std::string(exports::kAllowListName));
  std::vector<std::string> unread;
  for (const auto& file : query.unread) {
    unread.push_back((file.hosts_file ? std::string("the hosts file") : file.file) + " (" +
                     std::string(ReadFailureText(file.why)) + ")");
  }
  if (query.allow_status != platform::ReadStatus::kOk) {
    unread.push_back(std::string(exports::kAllowListName) + " (" +
                     std::string(ReadFailureText(query.allow_status)) + ")");
  }
  if (!unread.empty()) parts.push_back("not read: " + joined(unread));
  std::string text = query.name + ":";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? " " : "; ") + parts[i];
  return text;
}

std::string RefusalText(session::AuthRefusal refusal) {
  switch (refusal) {
    case session::AuthRefusal::kDismissed:
      return "Administrator authentication cancelled";
    case session::AuthRefusal::kNotAuthorized:
      return "Not authorized by polkit to write HOSTS";
    case session::AuthRefusal::kNoAgent:
      return "No polkit authentication agent runs to ask for the password";
    case session::AuthRefusal::kNoPolkit:
      return "The polkit daemon could not be asked (is polkitd running?)";
    case session::AuthRefusal::kFailed:
      break;
  }
  return "pkexec could not run the install helper";
}

namespace {

std::string TimeText(const std::string& milliseconds) {
  const long long ms = std::stoll(milliseconds.empty() ? std::string("0") : milliseconds);
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// "Sources from the web: N updated, M unchanged", led by each list that was not updated and why:
// the names stand first, where a status cut short in its middle keeps them.
std::string FetchedText(const std::vector<fetch::FetchResult>& results) {
  std::string failures;
  int updated = 0;
  int unchanged = 0;
  for (const auto& result : results) {
    if (result.outcome == fetch::Outcome::kUpdated) ++updated;
    if (result.outcome == fetch::Outcome::kUnchanged) ++unchanged;
    if (result.outcome != fetch::Outcome::kFailed) continue;
    failures += (failures.empty() ? "" : "; ") + result.name + " not updated (" +
                FetchFailureText(result) + ")";
  }
  const std::string counts = "from the web: " + std::to_string(updated) + " updated, " +
                             std::to_string(unchanged) + " unchanged";
  return failures.empty() ? "Sources " + counts : failures + " - " + counts;
}

std::string MainText(const Status& status) {
  switch (status.kind) {
    case Status::Kind::kInfo:
      return "Info";
    case Status::Kind::kAdminUser:
      return "Admin User";
    case Status::Kind::kAsksForPassword:
      return "Writing HOSTS will ask for an administrator password";
    case Status::Kind::kMayNeedAdmin:
      return "You may need to run as Administrator to write hosts";
    case Status::Kind::kFolderProblem:
      return FolderProblemText(status);
    case Status::Kind::kFileSummary:
      return status.subject;
    case Status::Kind::kNoSelection:
      return "You must select at least one";
    case Status::Kind::kNoHeader:
      return "You must select a Header file";
    case Status::Kind::kScanning:
      return "Scanning";
    case Status::Kind::kMerged: {
      std::string text = "Merged " + status.subject + " - File:[ " + status.detail + " ]";
      for (std::size_t i = 0; i < status.skipped.size(); ++i) {
        text += (i == 0 ? " - not merged: " : ", ") + status.skipped[i].name + " (" +
                std::string(ReadFailureText(status.skipped[i].why)) + ")";
      }
      return text;
    }
    case Status::Kind::kMergeTooLarge:
      return "Merge failed: " + status.detail + " would be larger than " +
             std::to_string(platform::kMaxFileBytes >> 20) + " MiB";
    case Status::Kind::kMergeNotWritten:
      return "Merge failed: could not write " + status.detail;
    case Status::Kind::kInstalled:
      return "Done " + status.subject + " - Copied to HOSTS";
    case Status::Kind::kInstallFailed:
      return "You may need to run as Administrator HOSTS Write Failed";
    case Status::Kind::kAuthRefused:
      return RefusalText(status.refusal) + " - HOSTS not written";
    case Status::Kind::kInstallBusy:
      return "Another install of HOSTS is under way - HOSTS not written";
    case Status::Kind::kOwnEntriesKept:
      return "HOSTS holds " + status.subject +
             " entries of your own that the new file lacks - HOSTS not written";
    case Status::Kind::kHostsDamaged:
      return "HOSTS may be damaged: " + status.subject;
    case Status::Kind::kNoEditor:
      return "No text editor found: install one, for example mousepad or gedit";
    case Status::Kind::kCannotStart:
      return ProgramText(status);
    case Status::Kind::kCannotOpen:
      return "Could not open " + status.subject + " (is xdg-open installed?)";
    case Status::Kind::kNoDnsTool:
      return std::string("No DNS cache tool: install systemd-resolved (it brings resolvectl) to ") +
             (status.purpose == Status::Purpose::kShowCache ? "show the cache" : "flush");
    case Status::Kind::kCaptureUnsafe:
      return "Other users can change " + status.subject + ": no DNS cache capture there as root";
    case Status::Kind::kCaptureLeftover:
      return "Could not remove " + status.subject + ": the DNS cache is not shown";
    case Status::Kind::kCaptureNotCreated:
      return "Could not create " + status.subject + ": the DNS cache is not shown";
    case Status::Kind::kCaptureTimedOut:
      return status.subject + " did not list the DNS cache within " + TimeText(status.detail) +
             " and was stopped";
    case Status::Kind::kCacheEmpty:
      return status.subject +
             " listed no DNS cache entries (resolvectl show-cache needs systemd 254 or later)";
    case Status::Kind::kCaptureFailed:
      return "The DNS cache capture in " + status.subject + " could not be completed";
    case Status::Kind::kNoSubscriptions:
      return "No sources from the web: put a file H_<Name>.url holding a list's web address into "
             "Hostfiles";
    case Status::Kind::kSourcesFetched:
      return FetchedText(status.fetched);
    case Status::Kind::kNameQueried:
      return NameQueryText(status.query);
    case Status::Kind::kNameNotValid:
      return "\"" + status.subject + "\" is no host name: nothing was looked for";
  }
  return {};
}

}  // namespace

ColourRole ColourOf(session::Tone tone) {
  switch (tone) {
    case session::Tone::kWarning:
      return ColourRole::kYellow;
    case session::Tone::kFailure:
      return ColourRole::kRed;
    case session::Tone::kSuccess:
      return ColourRole::kGreen;
    case session::Tone::kNeutral:
      break;
  }
  return ColourRole::kWindow;
}

std::string AddendumText(const session::Addendum& addendum) {
  using Kind = session::Addendum::Kind;
  switch (addendum.kind) {
    case Kind::kHostsNotWritten:
      return "HOSTS not written";
    case Kind::kFlushFailed:
      return "but " + addendum.subject + " could not flush the cache";
    case Kind::kHostNameMissing:
      return HostNameMissingText(addendum.subject);
    case Kind::kHostNameNotValid:
      return std::string(merge::kHostNamePlaceholder) +
             " left as it is: the machine's name is not a valid host name";
    case Kind::kNotListed:
      return "Not listed, as a start marker cannot hold \",\" or \"" +
             std::string(merge::kMarkerEnd) + "\": " + addendum.subject;
    case Kind::kNoSourceFolder:
      return "No source folder " + addendum.subject;
    case Kind::kNamesAllowed:
      return addendum.subject + (addendum.subject == "1" ? " name" : " names") + " allowed";
    case Kind::kDuplicatesLeftOut:
      return addendum.subject + (addendum.subject == "1" ? " duplicate name" : " duplicate names") +
             " left out";
    case Kind::kNote:
      break;
  }
  return addendum.subject;
}

std::string StatusText(const session::Status& status) {
  std::string text = MainText(status);
  for (const auto& addendum : status.addenda) text += " - " + AddendumText(addendum);
  return text;
}

std::string_view ReadFailureText(platform::ReadStatus status) {
  switch (status) {
    case platform::ReadStatus::kOk:
      return "read";
    case platform::ReadStatus::kMissing:
      return "missing";
    case platform::ReadStatus::kNotRegular:
      return "not a regular file";
    case platform::ReadStatus::kTooLarge:
      return "too large";
    case platform::ReadStatus::kUnreadable:
      return "unreadable";
    case platform::ReadStatus::kChanged:
      return "changed while read";
    case platform::ReadStatus::kNotPermitted:
      return "belongs to another user";
    case platform::ReadStatus::kUnsafePath:
      return "reached through a folder or link that other users can change";
    case platform::ReadStatus::kNotText:
      return "holds NUL bytes: not a hosts file";
  }
  return "unreadable";
}

std::string_view ExclusionText(catalogue::Exclusion exclusion) {
  switch (exclusion) {
    case catalogue::Exclusion::kNone:
      return "a source entry";
    case catalogue::Exclusion::kNotASourceName:
      return "not named H_*.txt";
    case catalogue::Exclusion::kControlCharacter:
      return "its name holds a control character";
    case catalogue::Exclusion::kMarkerCannotHold:
      return "its name holds \",\" or \" entries]\", which a start marker cannot hold";
    case catalogue::Exclusion::kNotAFile:
      break;
  }
  return "not a visible regular file";
}

std::string HostNameMissingText(const std::string& host_name) {
  return "the new HOSTS does not name this machine (" + host_name + "): add \"127.0.1.1 " +
         std::string(merge::kHostNamePlaceholder) + "\" to the header";
}

namespace {

std::string_view NotSubscriptionText(fetch::NotSubscription why) {
  switch (why) {
    case fetch::NotSubscription::kTooLarge:
      return "larger than a subscription can be";
    case fetch::NotSubscription::kEmpty:
      return "it is empty";
    case fetch::NotSubscription::kNotWeb:
      return "its address is not an http:// or https:// address";
    case fetch::NotSubscription::kNoShortcutUrl:
      return "an Internet Shortcut without a URL= line";
    case fetch::NotSubscription::kNone:
    case fetch::NotSubscription::kUnreadable:
      break;
  }
  return {};
}

std::string_view FailureWords(fetch::Failure failure) {
  switch (failure) {
    case fetch::Failure::kBadUrl:
      return "not an address that can be requested";
    case fetch::Failure::kCannotConnect:
      return "the server cannot be reached";
    case fetch::Failure::kTimedOut:
      return "timed out";
    case fetch::Failure::kCertificate:
      return "the server's certificate does not verify";
    case fetch::Failure::kInsecureRedirect:
      return "redirected from https to http";
    case fetch::Failure::kTooManyRedirects:
      return "too many redirects";
    case fetch::Failure::kHtml:
      return "an HTML page, not a hosts list";
    case fetch::Failure::kNoEntries:
      return "no line of an address and a name: not a hosts list";
    case fetch::Failure::kNotWritten:
      return "the new copy could not be written";
    case fetch::Failure::kBroken:
      return "the transfer failed";
    case fetch::Failure::kNone:
    case fetch::Failure::kNotSubscription:
    case fetch::Failure::kStatus:
    case fetch::Failure::kTooLarge:
    case fetch::Failure::kNulBytes:
      break;
  }
  return {};
}

}  // namespace

std::string FetchFailureText(const fetch::FetchResult& result) {
  const std::string url_file = fetch::SubscriptionNamed(result.name).value_or(result.name);
  switch (result.failure) {
    case fetch::Failure::kNotSubscription:
      if (result.not_subscription == fetch::NotSubscription::kUnreadable) {
        return url_file + " cannot be read: " + std::string(ReadFailureText(result.read));
      }
      return url_file +
             " is no subscription: " + std::string(NotSubscriptionText(result.not_subscription));
    case fetch::Failure::kStatus:
      return "the server answered " + std::to_string(result.status);
    case fetch::Failure::kTooLarge:
      return "too large";
    case fetch::Failure::kNulBytes:
      return std::string(ReadFailureText(platform::ReadStatus::kNotText));
    default:
      break;
  }
  std::string text(FailureWords(result.failure));
  if (!result.detail.empty()) text += ": " + result.detail;
  return text;
}

std::string FetchResultText(const fetch::FetchResult& result) {
  switch (result.outcome) {
    case fetch::Outcome::kUpdated:
      return result.name + ": updated (" + std::to_string(result.bytes) + " bytes)";
    case fetch::Outcome::kUnchanged:
      return result.name + ": unchanged";
    case fetch::Outcome::kFailed:
      break;
  }
  return result.name + ": not updated: " + FetchFailureText(result) +
         (result.had_copy ? " (the last copy is kept)" : " (there is no copy yet)");
}

std::string FetchProgressText(const std::string& list, std::uint64_t bytes) {
  return "Fetching " + list + " from the web: " + std::to_string(bytes) + " bytes";
}

std::string OwnEntriesList(const std::vector<install::HostEntry>& entries) {
  std::string list;
  for (std::size_t i = 0; i < entries.size() && i < kListedOwnEntries; ++i) {
    list += "  " + entries[i].address + " " + entries[i].name + "\n";
  }
  if (entries.size() > kListedOwnEntries) {
    list += "  ... and " + std::to_string(entries.size() - kListedOwnEntries) + " more\n";
  }
  return list;
}

std::string OwnEntriesQuestion(const std::vector<install::HostEntry>& entries) {
  return "The hosts file holds entries of your own that the new file lacks:\n\n" +
         OwnEntriesList(entries) +
         "\nInstall the new file anyway? These entries will then be kept only in the backup "
         "(hosts.ZRB). Add them to the header to keep them.";
}

}  // namespace vellomar::view
