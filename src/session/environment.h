#pragma once
// What a run needs from the world it runs in. The programs fill it from the platform; tests
// fill it with a temporary folder and a recording launcher.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dns/commands.h"
#include "install/host_update.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::session {

// The sample header that a seeded folder's own entries are kept in, and the comment above them.
inline constexpr std::string_view kSeededHeader = "H_0_Header.txt";
inline constexpr std::string_view kKeptEntriesComment = "# Entries of your own, kept from ";

struct Environment {
  std::string program_folder;  // without a trailing separator
  // Why the program folder cannot be written (a data folder that could not be created); the
  // run then writes nothing there and says so.
  platform::ProgramFolderChoice folder_choice;
  std::string program_name;  // file name without extension; names the log
  // Root's program folder, which --system names (platform::SystemFolder()).
  std::string system_folder;
  // Candidates probed at start-up; the first that exists gives the path.
  std::vector<std::string> hosts_candidates;
  std::vector<std::string> editor_candidates;
  std::vector<std::string> resolver_candidates;
  support::LineEnd line_end = support::NativeLineEnd();
  platform::OsFamily os = platform::NativeOsFamily();
  // The local date and time as text, for "#CREATEDDATE#".
  std::function<std::string()> clock;
  // The machine's name, for "#HOSTNAME#"; empty leaves the placeholder as it is.
  std::function<std::string()> host_name;
  // Whether the program may write the system hosts file.
  std::function<bool()> is_admin;
  // The command that installs as the administrator (platform::PrivilegedInstallCommand: pkexec
  // and the helper, or the helper alone on Windows), given the bytes through the launcher's
  // RunPrivileged; empty when there is none to use.
  std::vector<std::string> privileged_install;
  platform::Launcher* launcher = nullptr;  // not owned
  // Fetches a subscribed list (platform::HttpGet); tests put a server of their own here.
  std::function<platform::HttpReply(const platform::HttpRequest&, const platform::HttpBodySink&)>
      http_get;
  // The install lock: where it lives and how long an install waits for it (the window does
  // not wait: it never holds its event loop up).
  install::LockPolicy install_lock;
  int version_major = 0;
  int version_minor = 0;
  int version_revision = 0;
};

// The environment of the real system, with `launcher` for starting programs. The program name
// is the window program's, so that both programs share one log; the program folder is chosen
// (and the data folder made) by platform::ChooseProgramFolder, so that both agree on it.
Environment SystemEnvironment(platform::Launcher& launcher);

// The sample header of a folder just seeded (Hostfiles/H_0_Header.txt), when
// env.folder_choice.seeded: the entries of the user's own in the hosts file found among
// env.hosts_candidates are appended to it under a comment naming that file and env.clock's date,
// so that the first merge keeps them. The header is replaced whole or not at all. True when it
// was changed.
bool KeepOwnEntriesInSeededHeader(const Environment& env);

// The version numbers in plain decimal: "1.0.61".
std::string VersionText(const Environment& env);

// The local date and time in the user's locale (LC_TIME): its date form, a blank, its time form.
std::string LocalDateTimeText();

}  // namespace vellomar::session
