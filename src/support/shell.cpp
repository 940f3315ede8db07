#include "support/shell.h"

namespace vellomar::support {

bool ShellOpen(platform::Launcher& launcher, const std::string& target) {
  std::string copy = target;
  if (!copy.empty() && copy.back() == platform::PathSeparator()) copy.pop_back();
  return launcher.ShellOpen(copy);
}

}  // namespace vellomar::support
