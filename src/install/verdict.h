#pragma once
// The verdict on an install of the merged file.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "support/line_end.h"

namespace vellomar::install {

// Whether two files hold the same bytes, compared a block at a time (never a whole file in
// memory): kDifferent also when either is missing or no ordinary file; kUnknown when a read
// failed half-way, so that nothing can be said.
enum class Sameness { kSame, kDifferent, kUnknown };

// Sees the bytes of a file a block at a time, in order.
using BlockObserver = std::function<void(std::string_view block)>;

// How CompareFiles reads.
struct CompareOptions {
  std::size_t block = std::size_t{256} << 10;  // bytes compared at a time (at least 1)
  // Each block of `a` once it compared equal: with kSame, the whole of `a` (= `b`), in order.
  BlockObserver on_same_block;
};
Sameness CompareFiles(const std::string& a, const std::string& b,
                      const CompareOptions& options = {});

// CompareFiles by lines, but a line of `a` and one of `b` that are both the creation date's
// dated line (catalogue::DatedLineKind, among the dated lines the header reader reads) count as
// equal: kSame when the files differ in that date alone. Read a line at a time, never whole.
Sameness CompareApartFromCreated(const std::string& a, const std::string& b);

// The verdict on an install: kDifferent (failed) when the merged version text is not empty and
// differs from the current one, or the bytes of the hosts file differ from those of the merged
// file; kSame when they agree; kUnknown when the bytes could not be compared, which leaves the
// verdict to the install's own outcome.
Sameness JudgeInstall(std::string_view merged_version_text, std::string_view current_version_text,
                      const std::string& merged_path, const std::string& hosts_path);

// True when an active line of the hosts text `hosts` gives an address to `host_name` (names
// compared without regard to ASCII case), so that the resolver finds it there.
bool NamesHost(std::string_view hosts, std::string_view host_name, support::LineEnd line_end);

// NamesHost over a text given a block at a time, in constant memory: only the lines that hold
// the name are parsed; the others are skipped at the speed of memchr.
class HostNameFinder {
 public:
  HostNameFinder(std::string_view host_name, support::LineEnd line_end);
  // The next block of the text.
  void Add(std::string_view block);
  // NamesHost of the text given so far (its last line taken as ended).
  bool Found() const;

 private:
  // Takes one byte of a line already being read; true when it ended the line.
  bool Step(char c);
  // Ends the word being read: found when it is a name (not the address) equal to the host's.
  void EndWord();
  bool EndsFound() const;

  std::string name_;  // lower case
  support::LineEnd line_end_;
  bool found_ = false;
  // The state of the line being read.
  bool line_start_ = true;
  bool comment_ = false;  // after a '#'
  bool address_ = true;   // no word ended yet: the next one is the address
  bool after_cr_ = false;
  std::size_t word_length_ = 0;
  bool word_matches_ = true;  // the word so far is a prefix of the name
};

}  // namespace vellomar::install
