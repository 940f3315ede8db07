// What the view composes from a status: the parts it fills in, the sources left out, the notes
// joined after the main text, the time units, the colour roles. Each plain text is checked where
// it is drawn (the window's and the command line's tests).
#include "view/status_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellomar::view {
namespace {

using session::Addendum;
using session::Status;
using Kind = Status::Kind;

Status Make(Kind kind, std::string subject = {}, std::string detail = {}) {
  Status status;
  status.kind = kind;
  status.subject = std::move(subject);
  status.detail = std::move(detail);
  return status;
}

TEST(StatusTextTest, ComposesTheSystemsTextsFromTheirParts) {
  Status merged = Make(Kind::kMerged, "9 Lines - len: 172", "M_Hosts.txt");
  merged.skipped = {{"H_A.txt", platform::ReadStatus::kTooLarge},
                    {"H_B.txt", platform::ReadStatus::kNotText}};
  merged.addenda = {{Addendum::Kind::kHostNameNotValid, {}},
                    {Addendum::Kind::kNotListed, "H_a,b.txt"},
                    {Addendum::Kind::kNamesAllowed, "1"},
                    {Addendum::Kind::kDuplicatesLeftOut, "12"},
                    {Addendum::Kind::kHostsNotWritten, {}}};
  Status installed = Make(Kind::kInstalled, "7 Lines - len: 136");
  installed.addenda = {{Addendum::Kind::kFlushFailed, "/bin/resolvectl"},
                       {Addendum::Kind::kHostNameMissing, "box7"},
                       {Addendum::Kind::kNote, "no single-instance lock: busy"}};
  Status folder = Make(Kind::kFolderProblem, "/data", "Permission denied");
  folder.folder_problem = platform::FolderProblem::kCannotCreate;
  Status flush = Make(Kind::kCannotStart, "/r");
  flush.purpose = Status::Purpose::kFlush;
  Status fetched = Make(Kind::kSourcesFetched);
  fetched.fetched.resize(4);
  fetched.fetched[0].outcome = fetched.fetched[2].outcome = fetch::Outcome::kUpdated;
  fetched.fetched[1].outcome = fetch::Outcome::kUnchanged;
  fetched.fetched[3].name = "H_B.txt";
  fetched.fetched[3].failure = fetch::Failure::kTimedOut;
  Status refused = Make(Kind::kAuthRefused);
  refused.refusal = session::AuthRefusal::kNoAgent;
  Status query = Make(Kind::kNameQueried);
  query.query.name = "ads.example";
  for (std::uint64_t line = 1; line <= 11; ++line) {
    query.query.places.push_back(
        {"H_A.txt", false, {line, line == 2 ? "10.0.0.5" : "::", {}, line != 2}});
  }
  query.query.places.push_back({"/etc/hosts", true, {7, "0.0.0.0", {}, true}});
  query.query.more_places = 4;
  query.query.unread = {{"H_B.txt", false, platform::ReadStatus::kTooLarge}};
  const std::vector<std::pair<Status, std::string>> table = {
      {query,
       "ads.example: blocked by H_A.txt:1, H_A.txt:3, H_A.txt:4, H_A.txt:5, H_A.txt:6, H_A.txt:7, "
       "H_A.txt:8, H_A.txt:9, H_A.txt:10; mapped by H_A.txt:2 to 10.0.0.5; 5 more lines; in "
       "the hosts file; not read: H_B.txt (too large)"},
      {merged,
       "Merged 9 Lines - len: 172 - File:[ M_Hosts.txt ] - not merged: H_A.txt (too large), "
       "H_B.txt (holds NUL bytes: not a hosts file) - #HOSTNAME# left as it is: the machine's "
       "name is not a valid host name - Not listed, as a start marker cannot hold \",\" or \" "
       "entries]\": H_a,b.txt - 1 name allowed - 12 duplicate names left out - HOSTS not written"},
      {installed,
       "Done 7 Lines - len: 136 - Copied to HOSTS - but /bin/resolvectl could not flush the cache"
       " - the new HOSTS does not name this machine (box7): add \"127.0.1.1 #HOSTNAME#\" to the "
       "header - no single-instance lock: busy"},
      {folder, "Could not create the data folder /data: Permission denied - nothing is written"},
      {flush, "Could not start /r to flush the DNS cache"},
      {refused, "No polkit authentication agent runs to ask for the password - HOSTS not written"},
      {Make(Kind::kMergeTooLarge, {}, "M_Hosts.txt"),
       "Merge failed: M_Hosts.txt would be larger than 256 MiB"},
      {fetched, "H_B.txt not updated (timed out) - from the web: 2 updated, 1 unchanged"},
      {Make(Kind::kCaptureTimedOut, "/r", "200"),
       "/r did not list the DNS cache within 200 ms and was stopped"},
  };
  for (const auto& [status, text] : table) EXPECT_EQ(StatusText(status), text);
  EXPECT_EQ(ColourOf(session::Tone::kNeutral), ColourRole::kWindow);
  EXPECT_EQ(ColourOf(session::Tone::kWarning), ColourRole::kYellow);
  EXPECT_EQ(ColourOf(session::Tone::kFailure), ColourRole::kRed);
  EXPECT_EQ(ColourOf(session::Tone::kSuccess), ColourRole::kGreen);
}

}  // namespace
}  // namespace vellomar::view
