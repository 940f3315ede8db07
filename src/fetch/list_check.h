#pragma once
// Whether a body that arrives in pieces is a hosts list, judged as it arrives, so that a fetch
// can stop at the first sign that it is not: a hosts list holds no NUL byte, is no HTML page (a
// web server's error or login page starts with '<'), and has at least one line of an address
// and a name.

#include <cstddef>
#include <string>
#include <string_view>

namespace vellomar::fetch {

class ListCheck {
 public:
  enum class Verdict {
    kPending,    // nothing wrong so far (after Finish: never)
    kList,       // a hosts list
    kNulBytes,   // a NUL byte
    kHtml,       // the first byte that is not blank is '<'
    kNoEntries,  // no line "ADDRESS NAME"
  };
  // Judges the next piece: kNulBytes or kHtml as soon as either is seen, and from then on.
  Verdict Feed(std::string_view piece);
  // The verdict once the last piece has been fed.
  Verdict Finish();

 private:
  void TakeLines(std::string_view piece);

  Verdict verdict_ = Verdict::kPending;
  bool seen_text_ = false;
  bool found_entry_ = false;
  std::string line_;  // the line under way, until an entry is found
  bool line_too_long_ = false;
};

// A line "ADDRESS NAME ...": blanks first allowed, ADDRESS an IPv4 or IPv6 address, and a name
// that does not start a comment.
bool IsHostsEntry(std::string_view line);

// A dotted IPv4 address ("0.0.0.0") or an IPv6 address ("::1", "fe80::1%lo0").
bool IsIpAddress(std::string_view text);

}  // namespace vellomar::fetch
