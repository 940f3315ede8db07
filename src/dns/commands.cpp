#include "dns/commands.h"

#include "platform/platform.h"

namespace vellomar::dns {
Dialect NativeDialect() {
  return platform::NativeOsFamily() == platform::OsFamily::kWindows ? Dialect::kWindows
                                                                    : Dialect::kPosix;
}

std::vector<std::string> FlushCommand(const std::string& ipconfig_path, Dialect dialect) {
  return {ipconfig_path, dialect == Dialect::kWindows ? "/flushdns" : "flush-caches"};
}

std::vector<std::string> StopServiceCommand(Dialect dialect) {
  if (dialect == Dialect::kWindows) return {"net", "stop", "dnscache"};
  return {"systemctl", "stop", "systemd-resolved"};
}

std::vector<std::string> StartServiceCommand(Dialect dialect) {
  if (dialect == Dialect::kWindows) return {"net", "start", "dnscache"};
  return {"systemctl", "start", "systemd-resolved"};
}

std::string CaptureScriptName(Dialect dialect) {
  return dialect == Dialect::kWindows ? "read.bat" : "read.sh";
}

}  // namespace vellomar::dns
