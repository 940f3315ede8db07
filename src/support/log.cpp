#include "support/log.h"

#include "platform/platform.h"

namespace vellomar::support {

LogTarget ProgramLog(const std::string& program_folder, const std::string& program_name,
                     LineEnd line_end) {
  LogTarget log;
  log.path = platform::JoinPath(program_folder, program_name + "_Log.txt");
  log.line_end = line_end;
  return log;
}

bool WriteLog(const LogTarget& log, std::string_view message) {
  if (log.echo) log.echo(message);
  return platform::AppendToLog(log.path, std::string(message).append(LineEndText(log.line_end)));
}

}  // namespace vellomar::support
