#include "install/verdict.h"

#include <algorithm>

#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::install {

bool InstallFailed(std::string_view merged_version_text, std::string_view current_version_text,
                   const std::string& merged_path, const std::string& hosts_path) {
  if (!merged_version_text.empty() && merged_version_text != current_version_text) return true;
  // Equal version texts prove nothing when a failed copy left an older file with the same
  // header, or when the merged file has no dated lines at all: the bytes decide.
  std::string merged;
  std::string hosts;
  return !support::ReadWholeFileInto(merged_path, merged) ||
         !support::ReadWholeFileInto(hosts_path, hosts) || merged != hosts;
}

bool NamesHost(std::string_view hosts, std::string_view host_name, support::LineEnd line_end) {
  if (host_name.empty()) return false;
  const std::string wanted = support::ToLowerAscii(host_name);
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
  };
  bool found = false;
  support::ForEachLine(hosts, line_end, [&](std::string_view line) {
    line = line.substr(0, std::min(line.find('#'), line.size()));
    bool address = true;  // the first word is the address, the others its names
    std::size_t pos = 0;
    while (pos < line.size() && !found) {
      while (pos < line.size() && blank(line[pos])) ++pos;
      std::size_t end = pos;
      while (end < line.size() && !blank(line[end])) ++end;
      if (end > pos && !address && support::ToLowerAscii(line.substr(pos, end - pos)) == wanted) {
        found = true;
      }
      if (end > pos) address = false;
      pos = end;
    }
    return !found;
  });
  return found;
}

}  // namespace vellomar::install
