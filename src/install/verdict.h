#pragma once
// The verdict on an install of the merged file.

#include <string>
#include <string_view>

namespace vellomar::install {

// True when the install failed: the merged version text is not empty and differs from the
// current one, or the bytes of the hosts file differ from those of the merged file (or either
// cannot be read).
bool InstallFailed(std::string_view merged_version_text, std::string_view current_version_text,
                   const std::string& merged_path, const std::string& hosts_path);

}  // namespace vellomar::install
