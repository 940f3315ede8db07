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
// Stops / starts the cache service: "net stop dnscache" or "systemctl stop systemd-resolved".
std::vector<std::string> StopServiceCommand(platform::OsFamily os);
std::vector<std::string> StartServiceCommand(platform::OsFamily os);

// "read.bat" or "read.sh": the script that earlier versions ran the capture through, removed
// when found.
std::string CaptureScriptName(platform::OsFamily os);

}  // namespace vellomar::dns
