#pragma once
// The window's launcher: the system's, except that the administrator's install, which waits
// for a password dialog, runs beside the event loop so that the window keeps drawing.

#include <memory>

#include "platform/platform.h"

namespace vellomar::app {

// Wraps `inner`. While the administrator's install runs, every window is disabled (it draws,
// but takes no click, so the install cannot be started twice) and events are handled.
std::unique_ptr<platform::Launcher> WaitingInWindow(std::unique_ptr<platform::Launcher> inner);

}  // namespace vellomar::app
