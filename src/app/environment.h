#pragma once
// The window's view of the world it runs in: the session's environment.

#include <string>

#include "session/environment.h"

namespace vellomar::app {

using Environment = session::Environment;
using session::SystemEnvironment;

}  // namespace vellomar::app
