#pragma once
// Replacing the system hosts file with a backup.

#include <string>

#include "support/log.h"

namespace vellomar::install {

inline constexpr std::string_view kBackupSuffix = ".ZRB";

// Puts a copy of `this_file` in the place of `hosts_path`, after saving the current hosts file
// as hosts_path + ".ZRB". Returns silently when either file is absent. The hosts file always
// holds either its old content or the whole new content; each step that does not take effect
// is logged as "Could not Kill ", "Did not backup ", "Could not Find " or "Could not Copy to "
// followed by the path.
void DoHostUpdate(const std::string& this_file, const std::string& hosts_path,
                  const support::LogTarget& log);

// Puts the backup (hosts_path + ".ZRB") back in the place of the hosts file by the same safe
// replacement, and only then keeps the replaced hosts file as the new backup. False, with the
// hosts file unchanged, when there is no backup or it could not be put in place; each step that
// does not take effect is logged as DoHostUpdate logs it.
[[nodiscard]] bool RestoreBackup(const std::string& hosts_path, const support::LogTarget& log);

}  // namespace vellomar::install
