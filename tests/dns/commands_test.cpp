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
using enum platform::OsFamily;

TEST(DnsCommandsTest, BuildsTheCommandLinesOfEachSystem) {
  EXPECT_EQ(FlushCommand("c:\\ipconfig.exe", kWindows), (V{"c:\\ipconfig.exe", "/flushdns"}));
  EXPECT_EQ(FlushCommand("/bin/resolvectl", kPosix), (V{"/bin/resolvectl", "flush-caches"}));
  EXPECT_EQ(StopServiceCommand(kWindows), (V{"net", "stop", "dnscache"}));
  EXPECT_EQ(StartServiceCommand(kWindows), (V{"net", "start", "dnscache"}));
  EXPECT_EQ(StopServiceCommand(kPosix), (V{"systemctl", "stop", "systemd-resolved"}));
  EXPECT_EQ(StartServiceCommand(kPosix), (V{"systemctl", "start", "systemd-resolved"}));
}

}  // namespace
}  // namespace vellomar::dns
