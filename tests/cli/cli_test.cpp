// vellomar-cli run as a process over a temporary program folder and hosts file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/test_util.h"

namespace vellomar::cli {
namespace {

using namespace vellomar::testing;  // TempDir, WriteFile, ReadFile, Exists

const std::string kHeader =
    "# Test header\n# ------- Updated: 2026-12-01 -------\n# ------- Created: 2026-12-02 "
    "-------\n127.0.0.1 localhost\n::1 localhost\n";
const std::string kOldHosts = "127.0.0.1 localhost\n# the hosts file before\n";
const std::string kSeparator = "# " + std::string(57, '*') + "#\n\n";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    ::mkdir(dir.File("Hostfiles").c_str(), 0755);
    WriteFile(dir.File("Hostfiles/H_0_Header.txt"), kHeader);
    WriteFile(dir.File("Hostfiles/H_Ads.txt"), "127.0.0.1 ads.example\n0.0.0.0 more.example\n");
    WriteFile(dir.File("Hostfiles/H_Mal.txt"), "0.0.0.0 mal.example");
    WriteFile(Hosts(), kOldHosts);
  }
  std::string Hosts() const { return sys.File("hosts"); }

  // Runs the program with the folder and hosts options first, unless `plain`.
  Result Run(const std::string& args, bool plain = false) const {
    const std::string command = std::string(VELLOMAR_CLI) +
                                (plain ? "" : " --folder " + dir.path() + " --hosts " + Hosts()) +
                                " " + args + " >" + sys.File("out") + " 2>" + sys.File("err") +
                                " </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(sys.File("out")),
            ReadFile(sys.File("err"))};
  }

  TempDir dir;  // the program folder
  TempDir sys;  // the hosts file and the captured output
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
  const Result help = Run("--help", true);
  EXPECT_EQ(help.code, 0);
  for (const char* command : {"list", "merge", "update", "install", "status", "restore",
                              "dns flush", "dns show", "--folder", "--hosts", "--mode"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  EXPECT_EQ(Run("--version", true).out, "vellomar-cli 1.0.61\n");
  for (const char* bad : {"", "frobnicate", "list --bogus", "merge", "merge --mode 1.2.3.4 H_0",
                          "dns", "dns purge", "status extra", "--folder /no/such/folder list"}) {
    const Result r = Run(bad);
    EXPECT_EQ(r.code, 2) << bad;
    EXPECT_EQ(r.err.rfind("vellomar-cli: ", 0), 0u) << bad << ": " << r.err;
    EXPECT_EQ(r.out, "") << bad;
  }
}

TEST_F(CliTest, MergeWritesTheTickedEntriesInListOrderOrRefusesAndWritesNothing) {
  const Result r = Run("merge --mode keep --output " + sys.File("m.txt") +
                       " H_0_Header.txt H_Mal.txt H_Ads.txt");
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string merged = ReadFile(sys.File("m.txt"));
  EXPECT_EQ(merged, kHeader +
                        "\n# [Start of H_Ads.txt entries]\n127.0.0.1 ads.example\n0.0.0.0 "
                        "more.example\n\n# [End of H_Ads.txt entries]\n" +
                        kSeparator +
                        "# [Start of H_Mal.txt entries]\n0.0.0.0 mal.example\n"
                        "# [End of H_Mal.txt entries]\n" +
                        kSeparator);
  EXPECT_EQ(r.out, "Merged 19 Lines - len: " + std::to_string(merged.size()) + " - File:[ " +
                       sys.File("m.txt") + " ]\n");

  // The default mode and output: 127.0.0.1 becomes 0.0.0.0 in the program folder's file.
  EXPECT_EQ(Run("merge H_0_Header.txt H_Ads.txt").code, 0);
  EXPECT_NE(ReadFile(dir.File("M_Hosts.txt")).find("\n0.0.0.0 ads.example\n"), std::string::npos);
  EXPECT_EQ(
      Run("merge --mode 127.0.0.1 --output " + sys.File("m127.txt") + " H_0_Header.txt H_Ads.txt")
          .code,
      0);
  EXPECT_NE(ReadFile(sys.File("m127.txt")).find("\n127.0.0.1 more.example\n"), std::string::npos);

  ::mkfifo(dir.File("Hostfiles/H_Fifo.txt").c_str(), 0644);
  ::mkdir(dir.File("Hostfiles/H_Dir.txt").c_str(), 0755);
  struct Refusal {
    std::string args;
    std::string says;
  };
  for (const Refusal& refusal :
       {Refusal{"H_Ads.txt", "H_Ads.txt is not a header entry"},
        Refusal{"H_0_Header.txt H_Nope.txt", "no source H_Nope.txt"},
        Refusal{"H_0_Header.txt H_Fifo.txt", "H_Fifo.txt is not a source entry"},
        Refusal{"H_0_Header.txt H_Dir.txt", "H_Dir.txt is not a source entry"},
        Refusal{"--output " + sys.File("no/such/m.txt") + " H_0_Header.txt",
                "no folder for " + sys.File("no/such/m.txt")}}) {
    const Result refused = Run("merge --output " + sys.File("m.txt") + " " + refusal.args);
    EXPECT_EQ(refused.code, 2) << refusal.args;
    EXPECT_NE(refused.err.find(refusal.says), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(sys.File("m.txt")), merged) << refusal.args;
  }
  ::rmdir(dir.File("Hostfiles").c_str());  // fails: not empty; move it away instead
  ::rename(dir.File("Hostfiles").c_str(), dir.File("Elsewhere").c_str());
  const Result no_folder = Run("merge H_0_Header.txt");
  EXPECT_EQ(no_folder.code, 2);
  EXPECT_NE(no_folder.err.find("no source folder " + dir.File("Hostfiles")), std::string::npos);
}

TEST_F(CliTest, InstallListStatusUpdateAndRestoreFollowTheHostsFile) {
  const Result before = Run("status");
  EXPECT_EQ(before.code, 2);  // the hosts file has no dated lines to show and is too short
  EXPECT_NE(before.err.find("cannot read"), std::string::npos);

  ASSERT_EQ(Run("merge H_0_Header.txt H_Mal.txt").code, 0);
  const std::string merged = ReadFile(dir.File("M_Hosts.txt"));
  const Result install = Run("install");
  EXPECT_EQ(install.code, 0) << install.err;
  EXPECT_EQ(install.out,
            "Done 12 Lines - len: " + std::to_string(merged.size()) + " - Copied to HOSTS\n");
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), kOldHosts);

  EXPECT_EQ(Run("list").out, "  H_0_Header.txt\n  H_Ads.txt\n* H_Mal.txt\n");
  const Result status = Run("status");
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.out, "Installed: " + Hosts() +
                            "\n  Updated: 2026-12-01\n  Created: 2026-12-02\nMerged: " +
                            dir.File("M_Hosts.txt") +
                            "\n  Updated: 2026-12-01\n  Created: 2026-12-02\n"
                            "The installed file is the merged file.\n");

  // Edited sources: update merges the header and the installed file's sources again.
  WriteFile(dir.File("Hostfiles/H_Mal.txt"), "0.0.0.0 new.example\n");
  WriteFile(dir.File("Hostfiles/H_0_Header.txt"),
            kHeader.substr(0, kHeader.find("2026-12-01")) + "2026-12-05" +
                kHeader.substr(kHeader.find("2026-12-01") + 10));
  EXPECT_EQ(Run("merge --output " + sys.File("other.txt") + " H_0_Header.txt").code, 0);
  EXPECT_EQ(Run("status").code, 0);  // the merged file in the folder is still the old one
  const Result update = Run("update");
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_NE(ReadFile(Hosts()).find("0.0.0.0 new.example"), std::string::npos);
  EXPECT_NE(ReadFile(Hosts()).find("Updated: 2026-12-05"), std::string::npos);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), merged);

  const Result restore = Run("restore");
  EXPECT_EQ(restore.code, 0) << restore.err;
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(Run("status").code, 1);  // the merged file is the newer one now

  // Missing input: exit 2, nothing written.
  EXPECT_EQ(Run("install " + sys.File("missing.txt")).code, 2);
  WriteFile(sys.File("empty.txt"), "");
  EXPECT_EQ(Run("install " + sys.File("empty.txt")).code, 2);
  EXPECT_EQ(ReadFile(Hosts()), merged);
}

// A hosts file that cannot be written: exit 1, each log text on stderr, nothing changed.
TEST_F(CliTest, AFailedInstallSaysWhatItLogged) {
  ASSERT_EQ(Run("merge H_0_Header.txt").code, 0);
  const std::string version = ReadFile("/proc/version");
  const std::string args = "--folder " + dir.path() + " --hosts /proc/version install";
  const Result r = Run(args, true);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("vellomar-cli: Did not backup /proc/version\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vellomar-cli: You may need to run as Administrator HOSTS Write Failed\n"),
            std::string::npos);
  EXPECT_EQ(ReadFile("/proc/version"), version);
  EXPECT_NE(ReadFile(dir.File("vellomar_Log.txt")).find("Did not backup /proc/version\n"),
            std::string::npos);
}

TEST_F(CliTest, DnsCommandsRunTheResolverToolAndSayWhenItFails) {
  const std::string tool = sys.File("resolvectl");
  WriteFile(
      tool,
      "#!/bin/sh\necho \"$@\" >> " + sys.File("calls") +
          "\n[ \"$1\" = show-cache ] && printf 'example.com IN A 93.184.216.34\\n'\nexit 0\n");
  ::chmod(tool.c_str(), 0755);
  const Result flush = Run("--resolver " + tool + " dns flush");
  EXPECT_EQ(flush.code, 0) << flush.err;
  EXPECT_EQ(ReadFile(sys.File("calls")), "flush-caches\n");
  const Result show = Run("--resolver " + tool + " dns show");
  EXPECT_EQ(show.code, 0) << show.err;
  EXPECT_NE(show.out.find("example.com"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("93.184.216.34"), std::string::npos) << show.out;

  WriteFile(tool, "#!/bin/sh\necho 'Unknown command verb show-cache.' >&2\nexit 1\n");
  const Result old = Run("--resolver " + tool + " dns show");
  EXPECT_EQ(old.code, 1);
  EXPECT_NE(old.err.find("ended with status 1"), std::string::npos) << old.err;
  EXPECT_EQ(Run("--resolver " + tool + " dns flush").code, 1);
  // A successful install with --flush reports the failed flush.
  ASSERT_EQ(Run("merge H_0_Header.txt").code, 0);
  EXPECT_EQ(Run("--resolver " + tool + " install --flush").code, 1);
  EXPECT_EQ(ReadFile(Hosts()), ReadFile(dir.File("M_Hosts.txt")));
}

// With no --hosts the probed /etc/hosts is written: only inside a private mount namespace
// whose /etc is a fresh tmpfs.
TEST_F(CliTest, InstallAndRestoreOfTheSystemHostsFileInAPrivateNamespace) {
  if (::geteuid() != 0 || std::system("command -v unshare >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and unshare";
  }
  ASSERT_EQ(Run("merge H_0_Header.txt H_Ads.txt").code, 0);
  const std::string script =
      "set -e; mount --make-rprivate /; mount -t tmpfs -o size=64k tmpfs /etc; "
      "printf '127.0.0.1 localhost\\n' > /etc/hosts; " +
      std::string(VELLOMAR_CLI) + " --folder " + dir.path() + " install > " + sys.File("o1") +
      "; cp /etc/hosts " + sys.File("after") + "; cp /etc/hosts.ZRB " + sys.File("backup") + "; " +
      VELLOMAR_CLI + " --folder " + dir.path() + " restore > " + sys.File("o2") +
      "; cp /etc/hosts " + sys.File("restored");
  ASSERT_EQ(std::system(("unshare -m /bin/sh -c \"" + script + "\"").c_str()), 0);
  EXPECT_EQ(ReadFile(sys.File("after")), ReadFile(dir.File("M_Hosts.txt")));
  EXPECT_EQ(ReadFile(sys.File("backup")), "127.0.0.1 localhost\n");
  EXPECT_EQ(ReadFile(sys.File("restored")), "127.0.0.1 localhost\n");
  EXPECT_EQ(ReadFile(sys.File("o2")), "Restored /etc/hosts from its backup\n");
}

// The helper pkexec runs: input only from stdin, every refusal, the link rule, the original kept
// and put back by restore --original; as root, against a tmpfs /etc in a private namespace.
TEST_F(CliTest, TheInstallHelperInstallsItsInputOrRefusesWithItsStatus) {
  if (::geteuid() != 0 || std::system("command -v unshare >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and unshare";
  }
  const std::string command = std::string("unshare -m ") + VELLOMAR_HELPER_SCRIPT + " " +
                              VELLOMAR_HELPER + " " + VELLOMAR_CLI + " " + sys.path() + " " +
                              dir.path();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string old = "127.0.0.1 localhost\n127.0.1.1 box7\n";
  EXPECT_EQ(ReadFile(sys.File("codes")), " 0 4 6 5 0 0 0 3\n");
  EXPECT_EQ(ReadFile(sys.File("nul")), std::string("a\0b\n", 4));
  EXPECT_EQ(ReadFile(sys.File("zrb")), old);
  EXPECT_EQ(ReadFile(sys.File("orig")), old);
  EXPECT_EQ(ReadFile(sys.File("after-refusals")), std::string("a\0b\n", 4));
  EXPECT_EQ(ReadFile(sys.File("restored")), old);
  EXPECT_EQ(ReadFile(sys.File("orig2")), old);
  EXPECT_EQ(ReadFile(sys.File("real")), "linked\n");
  EXPECT_EQ(ReadFile(sys.File("is-link")), "link\n");
  EXPECT_EQ(ReadFile(sys.File("no-hosts")), "none\n");
}

}  // namespace
}  // namespace vellomar::cli
