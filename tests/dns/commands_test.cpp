#include "dns/commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/platform.h"
#include "support/line_end.h"

namespace vellomar::dns {
namespace {

using testing::TempDir;
using V = std::vector<std::string>;
using enum Dialect;

TEST(DnsCommandsTest, BuildsTheCommandLinesOfEachDialect) {
  EXPECT_EQ(FlushCommand("c:\\ipconfig.exe", kWindows), (V{"c:\\ipconfig.exe", "/flushdns"}));
  EXPECT_EQ(FlushCommand("/bin/resolvectl", kPosix), (V{"/bin/resolvectl", "flush-caches"}));
  EXPECT_EQ(StopServiceCommand(kWindows), (V{"net", "stop", "dnscache"}));
  EXPECT_EQ(StartServiceCommand(kWindows), (V{"net", "start", "dnscache"}));
  EXPECT_EQ(StopServiceCommand(kPosix), (V{"systemctl", "stop", "systemd-resolved"}));
  EXPECT_EQ(StartServiceCommand(kPosix), (V{"systemctl", "start", "systemd-resolved"}));
  EXPECT_EQ(CaptureScriptCommand("C:\\V\\read.bat", kWindows), (V{"C:\\V\\read.bat"}));
  EXPECT_EQ(CaptureScriptCommand("/v/read.sh", kPosix), (V{"/bin/sh", "/v/read.sh"}));
  EXPECT_EQ(NativeDialect() == kWindows, support::NativeLineEnd() == support::LineEnd::kCrLf);
}

TEST(DnsCommandsTest, WritesTheCaptureScriptByteForByte) {
  // The batch takes the path as it is, blanks included.
  EXPECT_EQ(CaptureScriptText("C:\\Program Files\\ipconfig.exe", kWindows),
            "C:\\Program Files\\ipconfig.exe /displaydns >> displaydns.txt\r\n"
            "echo @finishednow@ >> displaydns.txt\r\n");
  // Plain paths stay readable; an empty one must not make "show-cache" the program.
  const std::string tail = " show-cache >> displaydns.txt\necho @finishednow@ >> displaydns.txt\n";
  EXPECT_EQ(CaptureScriptText("/opt/c++_tools-2.0/rc", kPosix), "/opt/c++_tools-2.0/rc" + tail);
  EXPECT_EQ(CaptureScriptText("/my tools/rc", kPosix), "'/my tools/rc'" + tail);
  EXPECT_EQ(CaptureScriptText("/it's/rc", kPosix), "'/it'\\''s/rc'" + tail);
  EXPECT_EQ(CaptureScriptText("/a;b$c/rc", kPosix), "'/a;b$c/rc'" + tail);
  EXPECT_EQ(CaptureScriptText("/a`b`/rc", kPosix), "'/a`b`/rc'" + tail);
  EXPECT_EQ(CaptureScriptText("", kPosix), "''" + tail);
}

TEST(DnsCommandsTest, CaptureScriptRunsOnlyTheListingToolWhateverItsPath) {
  if (testing::OnWindows()) GTEST_SKIP() << "runs read.sh with /bin/sh; Windows runs read.bat";
  const std::string listing = "Scope protocol=dns\nx.example IN A 192.0.2.1\n";
  for (const char* folder : {"plain", "it's a", "x;touch pwned;$(touch pwned)`touch pwned`"}) {
    SCOPED_TRACE(folder);
    TempDir dir;
    testing::WriteFile(dir.File("listing.txt"), listing);
    ASSERT_TRUE(std::filesystem::create_directory(dir.File(folder)));
    const std::string tool = dir.File(folder) + "/resolvectl";
    ASSERT_TRUE(platform::CreatePrivateScript(
        tool, "#!/bin/sh\n[ \"$1\" = show-cache ] && exec cat listing.txt\nexit 3\n"));
    testing::WriteFile(dir.File("read.sh"), CaptureScriptText(tool, kPosix));
    const V argv = CaptureScriptCommand(dir.File("read.sh"), kPosix);  // plain words
    const std::string line = "cd " + dir.path() + " && " + argv.at(0) + " " + argv.at(1);
    EXPECT_EQ(std::system(line.c_str()), 0);
    EXPECT_EQ(testing::ReadFile(dir.File("displaydns.txt")), listing + "@finishednow@\n");
    EXPECT_FALSE(testing::Exists(dir.File("pwned")));
  }
}

}  // namespace
}  // namespace vellomar::dns
