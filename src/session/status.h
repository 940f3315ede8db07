#pragma once
// What the status line reports, as a value: the outcome of the last action, the names, counts
// and reasons it needs, and how it went. The view turns it into the system's text and colour.

#include <string>
#include <vector>

#include "export/name_query.h"
#include "fetch/fetch_list.h"
#include "install/privileged.h"
#include "platform/platform.h"

namespace vellomar::session {

// How an outcome went, for the colour roles of the status line and the version boxes.
enum class Tone {
  kNeutral,  // the window's own background
  kWarning,  // a refused merge, versions that differ, a cancelled password dialog
  kFailure,  // a failed install or step, a missing right
  kSuccess,  // the hosts file holds the merged file
};

// A ticked source the merge left out, and why.
struct SkippedSource {
  std::string name;
  platform::ReadStatus why = platform::ReadStatus::kUnreadable;
};

using install::AuthRefusal;

// A note added after the main text, in order.
struct Addendum {
  enum class Kind {
    kHostsNotWritten,    // an install was refused because of the status it follows
    kFlushFailed,        // subject: the resolver tool that could not flush
    kHostNameMissing,    // subject: the machine's name the new hosts file no longer gives
    kHostNameNotValid,   // "#HOSTNAME#" was left as it is
    kNotListed,          // subject: the names a start marker cannot hold, ", " between them
    kNoSourceFolder,     // subject: the missing folder
    kNamesAllowed,       // subject: how many names the allowlist left out of the merge
    kDuplicatesLeftOut,  // subject: how many names the merge left out as duplicates
    kNote,               // subject: a note of the front end's, said as it is
  };
  Kind kind = Kind::kNote;
  std::string subject;
};

struct Status {
  enum class Kind {
    kInfo,               // nothing done yet
    kAdminUser,          // start-up: the program may write HOSTS
    kAsksForPassword,    // start-up: writing HOSTS goes through the administrator's password
    kMayNeedAdmin,       // start-up: writing HOSTS will probably fail
    kFolderProblem,      // `folder_problem`; subject: the folder, detail: the system's words
    kFileSummary,        // subject: a file's line count and length
    kNoSelection,        // the merge refused: nothing ticked
    kNoHeader,           // the merge refused: the first ticked entry is no header
    kScanning,           // a merge is under way
    kMerged,             // subject: the summary, detail: the file's name; `skipped`
    kMergeTooLarge,      // detail: the merged file's name
    kMergeNotWritten,    // detail: the merged file's name
    kInstalled,          // subject: the summary of the merged file
    kInstallFailed,      // the hosts file is not the merged file
    kAuthRefused,        // `refusal` says why
    kInstallBusy,        // another install held the lock
    kOwnEntriesKept,     // not installed: subject: how many entries of the user's own it lacks
    kHostsDamaged,       // subject: the hosts file
    kNoEditor,           // no text editor was found
    kCannotStart,        // subject: the program; detail: what it was for (Purpose)
    kCannotOpen,         // subject: the file or address
    kNoDnsTool,          // detail: what it was for (Purpose)
    kCaptureUnsafe,      // subject: the program folder
    kCaptureLeftover,    // subject: the capture file that could not be removed
    kCaptureNotCreated,  // subject: the capture file
    kCaptureTimedOut,    // subject: the tool; detail: the time it had, in ms
    kCacheEmpty,         // subject: the tool
    kCaptureFailed,      // subject: the capture file
    kNoSubscriptions,    // the web update found no subscription (H_*.url) in the source folder
    kSourcesFetched,     // `fetched`: one result per subscription; kFailure when any failed
    kNameQueried,        // `query`: who maps a name; kWarning when a file could not be read
    kNameNotValid,       // subject: what was asked for, which no hosts line can hold
  };
  // What a program was started for (kCannotStart, kNoDnsTool).
  enum class Purpose { kEdit, kFlush, kStopService, kStartService, kShowCache };

  Kind kind = Kind::kInfo;
  Tone tone = Tone::kNeutral;
  platform::FolderProblem folder_problem = platform::FolderProblem::kNone;  // kFolderProblem
  std::string subject;
  std::string detail;
  Purpose purpose = Purpose::kEdit;
  AuthRefusal refusal = AuthRefusal::kFailed;
  std::vector<SkippedSource> skipped;
  std::vector<fetch::FetchResult> fetched;  // kSourcesFetched
  exports::NameQuery query;                 // kNameQueried
  std::vector<Addendum> addenda;
};

}  // namespace vellomar::session
