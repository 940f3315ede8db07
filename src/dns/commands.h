#pragma once
// Command lines of the DNS cache tools and the capture script, per command dialect.

#include <string>
#include <string_view>
#include <vector>

namespace vellomar::dns {

enum class Dialect { kWindows, kPosix };

// The dialect of the running system.
Dialect NativeDialect();

inline constexpr std::string_view kCaptureFileName = "displaydns.txt";
inline constexpr std::string_view kFinishedMarker = "@finishednow@";

// Empties the resolver cache: {ipconfig, "/flushdns"} or {ipconfig, "flush-caches"}.
std::vector<std::string> FlushCommand(const std::string& ipconfig_path, Dialect dialect);
// Stops / starts the cache service: "net stop dnscache" or "systemctl stop systemd-resolved".
std::vector<std::string> StopServiceCommand(Dialect dialect);
std::vector<std::string> StartServiceCommand(Dialect dialect);

// "read.bat" or "read.sh": the script that earlier versions ran the capture through, removed
// when found.
std::string CaptureScriptName(Dialect dialect);

}  // namespace vellomar::dns
