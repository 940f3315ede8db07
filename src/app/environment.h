#pragma once
// The window's view of the world it runs in: the session's environment.

#include <string>

#include "session/environment.h"

namespace vellomar::app {

using Environment = session::Environment;
using session::SystemEnvironment;

// "Vellomar - v" and the version numbers in plain decimal: "Vellomar - v1.0.61".
std::string WindowTitle(int major, int minor, int revision);

}  // namespace vellomar::app
