#pragma once
// Fetching one subscribed list: a conditional request from the kept validators, the body
// streamed into a replacement of the list file, counted and checked as it arrives, and put in
// place only when it is whole and a hosts list. Anything else keeps the last copy as it was.

#include <cstdint>
#include <functional>
#include <string>

#include "fetch/fetch_state.h"
#include "fetch/subscription.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::fetch {

enum class Outcome { kUpdated, kUnchanged, kFailed };

// Why a list was not updated.
enum class Failure {
  kNone,
  kNotSubscription,   // the .url file names no web address (`not_subscription`, `read`)
  kBadUrl,            // an address that cannot be requested, or a redirect to one
  kCannotConnect,     // the name does not resolve, or the server cannot be reached
  kTimedOut,          // no complete answer within the time-out
  kCertificate,       // the server's certificate does not verify
  kInsecureRedirect,  // a redirect from https to http
  kTooManyRedirects,  // more redirects than allowed
  kStatus,            // a status other than 200 (or 304 to a conditional request): `status`
  kTooLarge,          // more than the size cap
  kNulBytes,          // a NUL byte: no hosts list
  kHtml,              // an HTML page
  kNoEntries,         // no line of an address and a name
  kBroken,            // any other failure of the transfer
  kNotWritten,        // the new copy could not be written or put in place
};

struct FetchResult {
  std::string name;  // the list, "H_Name.txt"
  Outcome outcome = Outcome::kFailed;
  std::uint64_t bytes = 0;  // the size of the new copy (kUpdated)
  Failure failure = Failure::kNone;
  std::string detail;  // the HTTP library's or the system's own words, when there are any
  int status = 0;      // the status of the final reply, when one came
  NotSubscription not_subscription = NotSubscription::kNone;  // kNotSubscription
  platform::ReadStatus read = platform::ReadStatus::kOk;      // kNotSubscription, kUnreadable
  bool had_copy = false;  // a copy of the list was there before, and still is unless updated
};

struct FetchLimits {
  std::uint64_t max_bytes = platform::kMaxFileBytes;  // the decoded body, counted here
  int timeout_ms = 30000;                             // each list, redirects included
  int max_redirects = 5;
  std::string extra_authorities;  // PEM certificates trusted besides the system's
};

using HttpGetter =
    std::function<platform::HttpReply(const platform::HttpRequest&, const platform::HttpBodySink&)>;
// Told the bytes received so far, after each piece.
using FetchProgress = std::function<void(std::uint64_t bytes)>;

// Fetches the list `name` in `folder` from `url` through `get`. `kept` are the validators of
// the list's last good reply: sent only when they belong to `url` and the list is there, and
// set to those of a new reply (cleared when it gave none). The copy is stored with `line_end`'s
// line ends, so that the merge takes its lines as lines.
FetchResult FetchList(const std::string& folder, const std::string& name, const std::string& url,
                      Validators& kept, const FetchLimits& limits, support::LineEnd line_end,
                      const HttpGetter& get, const FetchProgress& progress = {});

}  // namespace vellomar::fetch
