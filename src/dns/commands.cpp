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

}  // namespace vellomar::dns
