#pragma once
// What a run needs from the world it runs in. The programs fill it from the platform; tests
// fill it with a temporary folder and a recording launcher.

#include <functional>
#include <string>
#include <vector>

#include "dns/commands.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::session {

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

// The environment of the real system, with `launcher` for starting programs. The program name
// is the window program's, so that both programs share one log.
Environment SystemEnvironment(platform::Launcher& launcher);

// The version numbers in plain decimal: "1.0.61".
std::string VersionText(const Environment& env);

// The local date and time in the user's locale (LC_TIME): its date form, a blank, its time form.
std::string LocalDateTimeText();

}  // namespace vellomar::session
