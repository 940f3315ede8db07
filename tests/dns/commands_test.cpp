#include "dns/commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/test_util.h"
#include "dns/report.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::dns {
namespace {

using testing::TempDir;
using V = std::vector<std::string>;

// Runs `argv` in `folder` with its error output discarded, and waits for it; the exit status,
// or -1 when it did not end normally.
int RunIn(const std::string& folder, const V& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDERR_FILENO);
    if (::chdir(folder.c_str()) == 0) ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(DnsCommandsTest, BuildsTheCommandLinesOfEachDialect) {
  EXPECT_EQ(FlushCommand("c:\\windows\\system32\\ipconfig.exe", Dialect::kWindows),
            (V{"c:\\windows\\system32\\ipconfig.exe", "/flushdns"}));
  EXPECT_EQ(FlushCommand("/usr/bin/resolvectl", Dialect::kPosix),
            (V{"/usr/bin/resolvectl", "flush-caches"}));
  EXPECT_EQ(StopServiceCommand(Dialect::kWindows), (V{"net", "stop", "dnscache"}));
  EXPECT_EQ(StartServiceCommand(Dialect::kWindows), (V{"net", "start", "dnscache"}));
  EXPECT_EQ(StopServiceCommand(Dialect::kPosix), (V{"systemctl", "stop", "systemd-resolved"}));
  EXPECT_EQ(StartServiceCommand(Dialect::kPosix), (V{"systemctl", "start", "systemd-resolved"}));
  EXPECT_EQ(CaptureScriptName(Dialect::kWindows), "read.bat");
  EXPECT_EQ(CaptureScriptName(Dialect::kPosix), "read.sh");
  EXPECT_EQ(CaptureScriptCommand("C:\\Vellomar\\read.bat", Dialect::kWindows),
            (V{"C:\\Vellomar\\read.bat"}));
  EXPECT_EQ(CaptureScriptCommand("/opt/v/read.sh", Dialect::kPosix),
            (V{"/bin/sh", "/opt/v/read.sh"}));
  // The native dialect and the native line end belong to the same system.
  EXPECT_EQ(NativeDialect() == Dialect::kWindows,
            support::NativeLineEnd() == support::LineEnd::kCrLf);
}

TEST(DnsCommandsTest, WritesTheCaptureScriptByteForByte) {
  EXPECT_EQ(CaptureScriptText("c:\\windows\\system32\\ipconfig.exe", Dialect::kWindows),
            "c:\\windows\\system32\\ipconfig.exe /displaydns >> displaydns.txt\r\n"
            "echo @finishednow@ >> displaydns.txt\r\n");
  // The batch takes the path as it is, blanks included.
  EXPECT_EQ(CaptureScriptText("C:\\Program Files\\ipconfig.exe", Dialect::kWindows),
            "C:\\Program Files\\ipconfig.exe /displaydns >> displaydns.txt\r\n"
            "echo @finishednow@ >> displaydns.txt\r\n");

  const std::string marker_line = "echo @finishednow@ >> displaydns.txt\n";
  EXPECT_EQ(CaptureScriptText("/usr/bin/resolvectl", Dialect::kPosix),
            "/usr/bin/resolvectl show-cache >> displaydns.txt\n" + marker_line);
  EXPECT_EQ(CaptureScriptText("/opt/c++_tools-2.0/resolvectl", Dialect::kPosix),
            "/opt/c++_tools-2.0/resolvectl show-cache >> displaydns.txt\n" + marker_line);
  EXPECT_EQ(CaptureScriptText("/opt/my tools/resolvectl", Dialect::kPosix),
            "'/opt/my tools/resolvectl' show-cache >> displaydns.txt\n" + marker_line);
  EXPECT_EQ(CaptureScriptText("/opt/it's/resolvectl", Dialect::kPosix),
            "'/opt/it'\\''s/resolvectl' show-cache >> displaydns.txt\n" + marker_line);
  EXPECT_EQ(CaptureScriptText("/a/$(x);`y`", Dialect::kPosix),
            "'/a/$(x);`y`' show-cache >> displaydns.txt\n" + marker_line);
  // An empty path must not turn "show-cache" into the program that runs.
  EXPECT_EQ(CaptureScriptText("", Dialect::kPosix),
            "'' show-cache >> displaydns.txt\n" + marker_line);
}

TEST(DnsCommandsTest, CaptureScriptRunsOnlyTheListingToolWhateverItsPath) {
  const std::string listing =
      testing::ReadFile(std::string(VELLOMAR_DNS_FIXTURES) + "/show_cache_linux.txt");
  const std::string expected_report =
      testing::ReadFile(std::string(VELLOMAR_DNS_FIXTURES) + "/report_linux.txt");
  ASSERT_FALSE(listing.empty());
  // The fixture ends with the marker line; the fake tool prints what comes before it.
  const std::string listing_only = listing.substr(0, listing.rfind("@finishednow@"));

  const V folders = {"plain", "with blank", "it's", "x;touch pwned;$(touch pwned2)`touch pwned3`"};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    TempDir dir;
    testing::WriteFile(dir.File("listing.txt"), listing_only);
    ASSERT_EQ(::mkdir(dir.File(folder).c_str(), 0700), 0);
    const std::string tool = dir.File(folder) + "/resolvectl";
    ASSERT_TRUE(platform::CreatePrivateScript(
        tool, "#!/bin/sh\n[ \"$1\" = show-cache ] || exit 3\nexec cat '" + dir.File("listing.txt") +
                  "'\n"));
    const std::string script = dir.File(CaptureScriptName(Dialect::kPosix));
    testing::WriteFile(script, CaptureScriptText(tool, Dialect::kPosix));

    EXPECT_EQ(RunIn(dir.path(), CaptureScriptCommand(script, Dialect::kPosix)), 0);
    const std::string capture = testing::ReadFile(dir.File("displaydns.txt"));
    EXPECT_EQ(capture, listing_only + "@finishednow@\n");
    EXPECT_EQ(BuildReport(capture, support::LineEnd::kLf), expected_report);
    for (const char* name : {"pwned", "pwned2", "pwned3"}) {
      EXPECT_FALSE(testing::Exists(dir.File(name))) << name;
    }
  }
}

TEST(DnsCommandsTest, CaptureCompletesWithAnEmptyListingWhenTheToolIsMissing) {
  TempDir dir;
  const std::string script = dir.File("read.sh");
  testing::WriteFile(script, CaptureScriptText(dir.File("missing/resolvectl"), Dialect::kPosix));
  EXPECT_EQ(RunIn(dir.path(), CaptureScriptCommand(script, Dialect::kPosix)), 0);
  const std::string capture = testing::ReadFile(dir.File("displaydns.txt"));
  EXPECT_EQ(capture, "@finishednow@\n");
  EXPECT_EQ(BuildReport(capture, support::LineEnd::kLf), "");
}

}  // namespace
}  // namespace vellomar::dns
