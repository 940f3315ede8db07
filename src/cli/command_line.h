#pragma once
// vellomar-cli: the rules of the window's run, driven by commands.

#include <string>
#include <vector>

namespace vellomar::cli {

// Runs the command line given without the program name; returns the exit status.
int Main(const std::vector<std::string>& args);

}  // namespace vellomar::cli
