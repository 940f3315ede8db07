#pragma once
// The allowlist, Hostfiles/allow.txt: names that a list blocks by mistake. One name a line,
// "#" starts a comment; "*.example.com" allows example.com and every name below it. An allowed
// name is never blocked: the merge leaves it out and no export carries it.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/platform.h"

namespace vellomar::exports {

// The allowlist's file name in the source folder.
inline constexpr std::string_view kAllowListName = "allow.txt";

class AllowList {
 public:
  // The names of `text` (LF or CR LF lines); blanks around a name are dropped, case is not
  // kept.
  static AllowList Parse(std::string_view text);
  // `folder`/allow.txt read through the checked reader, as sources are (the same owner rule and
  // size cap): an empty list when there is none;
  // `status` says why a list that is there could not be read (the list is then empty).
  static AllowList Load(const std::string& folder, platform::ReadStatus& status);

  // Whether `name` (any case) is allowed: named itself, or below a "*." entry.
  bool Allows(std::string_view name) const;
  bool Empty() const { return exact_.empty() && below_.empty(); }

 private:
  std::unordered_set<std::string> exact_;
  std::unordered_set<std::string> below_;  // "*.x" as "x": x and every name ending in ".x"
};

}  // namespace vellomar::exports
