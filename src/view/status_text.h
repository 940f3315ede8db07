#pragma once
// What the status line and the version boxes show for the session's values: the system's texts
// and the colour roles. The one home of every text the window and the command line report.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/source_list.h"
#include "export/name_query.h"
#include "fetch/fetch_list.h"
#include "install/entries.h"
#include "platform/platform.h"
#include "session/status.h"

namespace vellomar::view {

// The background colours of the text boxes, by role; each front end gives them its colours.
enum class ColourRole {
  kWindow,  // the system's background for text boxes
  kYellow,  // (255, 255, 0)
  kRed,     // (255, 0, 0)
  kGreen,   // (0, 255, 0)
};

ColourRole ColourOf(session::Tone tone);

// The status line's text for `status`, addenda included.
std::string StatusText(const session::Status& status);

// The text of one addendum, without the " - " that joins it to what it follows.
std::string AddendumText(const session::Addendum& addendum);

// Why a file was not read, in a few words: "too large", "not a regular file"...
std::string_view ReadFailureText(platform::ReadStatus status);

// Why a name in the source folder is no source entry, in a few words.
std::string_view ExclusionText(catalogue::Exclusion exclusion);

// Why pkexec did not run the install helper, in a sentence.
std::string RefusalText(session::AuthRefusal refusal);

// The warning for an install that took the machine's name `host_name` out of the hosts file.
std::string HostNameMissingText(const std::string& host_name);

// Why a subscribed list was not updated, in a few words, with the server's, the HTTP library's
// or the system's own words where they said any.
std::string FetchFailureText(const fetch::FetchResult& result);

// The line for one list's fetch: "H_Name.txt: updated (N bytes)", "H_Name.txt: unchanged", or
// "H_Name.txt: not updated: REASON (the last copy is kept)" ("(there is no copy yet)" when
// there was none).
std::string FetchResultText(const fetch::FetchResult& result);

// The status line while a list is fetched: its name and the bytes received so far.
std::string FetchProgressText(const std::string& list, std::uint64_t bytes);

// The entries of the user's own an install would drop, one "  address name" line each, at most
// kListedOwnEntries of them and then "  ... and N more".
inline constexpr std::size_t kListedOwnEntries = 20;
std::string OwnEntriesList(const std::vector<install::HostEntry>& entries);

// Who maps a name, in a line: "ads.example.com: blocked by H_AdServers.txt:123, H_Malware.txt:9;
// in the hosts file", then "allowed by allow.txt" and the files that could not be read; "no
// source maps it" when none does. At most kListedPlaces places are named, then "N more lines".
inline constexpr std::size_t kListedPlaces = 10;
std::string NameQueryText(const exports::NameQuery& query);
// The windows' question for the name to look for.
inline constexpr std::string_view kFindNameTitle = "Find a Name";
inline constexpr std::string_view kFindNamePrompt =
    "Which sources map this name (for example ads.example.com)?";

// The title of that question's box.
inline constexpr std::string_view kOwnEntriesTitle = "Entries of your own";
// The windows' question before an install that drops entries of the user's own.
std::string OwnEntriesQuestion(const std::vector<install::HostEntry>& entries);

}  // namespace vellomar::view
