#include "dns/commands.h"

#include "platform/platform.h"

namespace vellomar::dns {

std::vector<std::string> FlushCommand(const std::string& tool_path, platform::OsFamily os) {
  return {tool_path, os == platform::OsFamily::kWindows ? "/flushdns" : "flush-caches"};
}

std::vector<std::string> StopServiceCommand(platform::OsFamily os) {
  if (os == platform::OsFamily::kWindows) return {"net", "stop", "dnscache"};
  return {"systemctl", "stop", "systemd-resolved"};
}

std::vector<std::string> StartServiceCommand(platform::OsFamily os) {
  if (os == platform::OsFamily::kWindows) return {"net", "start", "dnscache"};
  return {"systemctl", "start", "systemd-resolved"};
}

std::string CaptureScriptName(platform::OsFamily os) {
  return os == platform::OsFamily::kWindows ? "read.bat" : "read.sh";
}

bool SaysNoCacheService(std::string_view error_output) {
  for (const std::string_view says :
       {std::string_view("org.freedesktop.resolve1"), std::string_view("systemd-resolved.service"),
        std::string_view("Failed to connect to bus")}) {
    if (error_output.find(says) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace vellomar::dns
