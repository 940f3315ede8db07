#pragma once
// The program's log: one message a line, appended, never truncated.

#include <functional>
#include <string>
#include <string_view>

#include "support/line_end.h"

namespace vellomar::support {

struct LogTarget {
  std::string path;  // program folder + separator + program name + "_Log.txt"
  LineEnd line_end = NativeLineEnd();
  // Also told every message, written or not: how a caller learns what a step logged.
  std::function<void(std::string_view)> echo;
};

// The log file of a program called `program_name` living in `program_folder`.
LogTarget ProgramLog(const std::string& program_folder, const std::string& program_name,
                     LineEnd line_end = NativeLineEnd());

// Appends `message` and the line end to the log file, creating it when missing. The file is
// opened and closed on every call, so the entry is on disk when this returns. The log is never
// written through a link, nor into anything but a regular file (a pipe there cannot hold the
// program up). True when the whole entry was written; callers that have nowhere to report a
// lost entry may ignore it. `echo` is told the message either way.
bool WriteLog(const LogTarget& log, std::string_view message);

}  // namespace vellomar::support
