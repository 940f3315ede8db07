#pragma once
// The verdict on an install of the merged file.

#include <string>
#include <string_view>

#include "support/line_end.h"

namespace vellomar::install {

// Whether two files hold the same bytes, compared a block at a time (never a whole file in
// memory): kDifferent also when either is missing or no ordinary file; kUnknown when a read
// failed half-way, so that nothing can be said.
enum class Sameness { kSame, kDifferent, kUnknown };
Sameness CompareFiles(const std::string& a, const std::string& b);

// The verdict on an install: kDifferent (failed) when the merged version text is not empty and
// differs from the current one, or the bytes of the hosts file differ from those of the merged
// file; kSame when they agree; kUnknown when the bytes could not be compared, which leaves the
// verdict to the install's own outcome.
Sameness JudgeInstall(std::string_view merged_version_text, std::string_view current_version_text,
                      const std::string& merged_path, const std::string& hosts_path);

// True when an active line of the hosts text `hosts` gives an address to `host_name` (names
// compared without regard to ASCII case), so that the resolver finds it there.
bool NamesHost(std::string_view hosts, std::string_view host_name, support::LineEnd line_end);

}  // namespace vellomar::install
