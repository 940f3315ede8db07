#pragma once
// Opening files and addresses with their associated program.

#include <string>

#include "platform/platform.h"

namespace vellomar::support {

// Hands `target` to the desktop shell without waiting; one trailing separator is removed
// first. False when the shell's opener could not be started.
bool ShellOpen(platform::Launcher& launcher, const std::string& target);

}  // namespace vellomar::support
