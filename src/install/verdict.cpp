#include "install/verdict.h"

#include "support/file_reader.h"

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

}  // namespace vellomar::install
