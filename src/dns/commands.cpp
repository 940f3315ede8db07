#include "dns/commands.h"

#include "platform/platform.h"

namespace vellomar::dns {
namespace {

bool IsShellSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '/' || c == '+' || c == '-';
}

// The path as one /bin/sh word. Plain paths stay readable; anything else is single-quoted so
// that blanks, quotes or shell characters in a folder name cannot run another command. An
// empty path is quoted too, or the script would run "show-cache" as a program of its own.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) plain = plain && IsShellSafe(c);
  if (plain) return text;
  std::string word = "'";
  for (char c : text) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  word += '\'';
  return word;
}

}  // namespace

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

std::string CaptureScriptText(const std::string& ipconfig_path, Dialect dialect) {
  const std::string capture_file(kCaptureFileName);
  const std::string marker(kFinishedMarker);
  if (dialect == Dialect::kWindows) {
    // The batch is written exactly as the command interpreter expects it; the path is not
    // quoted, as the tool has always written it.
    return ipconfig_path + " /displaydns >> " + capture_file + "\r\n" + "echo " + marker + " >> " +
           capture_file + "\r\n";
  }
  return ShellWord(ipconfig_path) + " show-cache >> " + capture_file + "\n" + "echo " + marker +
         " >> " + capture_file + "\n";
}

std::vector<std::string> CaptureScriptCommand(const std::string& script_path, Dialect dialect) {
  if (dialect == Dialect::kWindows) return {script_path};
  return {"/bin/sh", script_path};
}

}  // namespace vellomar::dns
