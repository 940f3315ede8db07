#pragma once
// Opening files and addresses with their associated program.

#include <string>

#include "platform/platform.h"

namespace vellomar::support {

// Hands `target` to the desktop shell without waiting; one trailing separator is removed
// first. A target that cannot be opened is ignored.
void ShellOpen(platform::Launcher& launcher, const std::string& target);

}  // namespace vellomar::support
