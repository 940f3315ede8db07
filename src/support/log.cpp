#include "support/log.h"

#include <cstdio>

#include "platform/platform.h"

namespace vellomar::support {

LogTarget ProgramLog(const std::string& program_folder, const std::string& program_name,
                     LineEnd line_end) {
  LogTarget log;
  log.path = platform::JoinPath(program_folder, program_name + "_Log.txt");
  log.line_end = line_end;
  return log;
}

void WriteLog(const LogTarget& log, std::string_view message) {
  if (log.echo) log.echo(message);
  std::FILE* file = std::fopen(log.path.c_str(), "ab");
  if (file == nullptr) return;
  std::string entry(message);
  entry.append(LineEndText(log.line_end));
  std::fwrite(entry.data(), 1, entry.size(), file);
  std::fclose(file);
}

}  // namespace vellomar::support
