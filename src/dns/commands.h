#pragma once
// Command lines of the DNS cache tools, per system family.

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vellomar::dns {

inline constexpr std::string_view kCaptureFileName = "displaydns.txt";
inline constexpr std::string_view kFinishedMarker = "@finishednow@";

// Empties the resolver cache: {ipconfig, "/flushdns"} or {ipconfig, "flush-caches"}.
std::vector<std::string> FlushCommand(const std::string& tool_path, platform::OsFamily os);
// Whether what a failed flush wrote on its standard error says that no cache service runs:
// resolvectl without a running systemd-resolved ("Failed to flush caches: Unit
// dbus-org.freedesktop.resolve1.service not found.", or the unit masked, or no system bus), exit
// status 1. There is then no cache to empty.
bool SaysNoCacheService(std::string_view error_output);
// Stops / starts the cache service: "net stop dnscache" or "systemctl stop systemd-resolved".
std::vector<std::string> StopServiceCommand(platform::OsFamily os);
std::vector<std::string> StartServiceCommand(platform::OsFamily os);

// "read.bat" or "read.sh": the script that earlier versions ran the capture through, removed
// when found.
std::string CaptureScriptName(platform::OsFamily os);

}  // namespace vellomar::dns
