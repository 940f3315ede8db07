#pragma once

#include <memory>
#include <string>

#include "app/environment.h"

class QApplication;

namespace vellomar::app {

// Runs the program: refuses a second instance of the same program file (a beep, no window),
// otherwise loads and shows the main window and returns when it has been closed.
int Run(QApplication& application, const Environment& env, const std::string& program_path);

// What Run does before the event loop; nullptr when another instance runs. Exposed so that
// tests can start the window without entering the event loop.
class VellomarForm;
std::unique_ptr<VellomarForm> Start(const Environment& env, const std::string& program_path,
                                    std::unique_ptr<platform::InstanceLock>& lock);

}  // namespace vellomar::app
