#pragma once
// What the main window needs from the world it runs in. main() fills it from the platform;
// tests fill it with a temporary folder and a recording launcher.

#include <functional>
#include <string>
#include <vector>

#include "dns/commands.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::app {

struct Environment {
  std::string program_folder;  // without a trailing separator
  std::string program_name;    // file name without extension; names the log
  // Candidates probed at start-up; the first that exists gives the path.
  std::vector<std::string> hosts_candidates;
  std::vector<std::string> notepad_candidates;
  std::vector<std::string> ipconfig_candidates;
  support::LineEnd line_end = support::NativeLineEnd();
  dns::Dialect dialect = dns::NativeDialect();
  // The local date and time as text, for "#CREATEDDATE#".
  std::function<std::string()> clock;
  // Whether the program may write the system hosts file.
  std::function<bool()> is_admin;
  platform::Launcher* launcher = nullptr;  // not owned
  int version_major = 0;
  int version_minor = 0;
  int version_revision = 0;
};

// The environment of the real system, with `launcher` for starting programs.
Environment SystemEnvironment(platform::Launcher& launcher);

// "Vellomar - v" and the version numbers in plain decimal: "Vellomar - v1.0.61".
std::string WindowTitle(int major, int minor, int revision);

// The local date and time in the user's locale: short date, a blank, long time.
std::string LocalDateTimeText();

}  // namespace vellomar::app
