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

// "read.bat" or "read.sh".
std::string CaptureScriptName(Dialect dialect);
// The two lines of the capture script: the listing appended to the capture file, then the
// finished marker appended to it. CR LF line ends for kWindows, LF for kPosix.
std::string CaptureScriptText(const std::string& ipconfig_path, Dialect dialect);
// How the script at `script_path` is started: the batch itself, or /bin/sh with the script.
std::vector<std::string> CaptureScriptCommand(const std::string& script_path, Dialect dialect);

}  // namespace vellomar::dns
