// vellomar-cli run as a process over a temporary program folder and hosts file.
#include <gtest/gtest.h>
#ifdef _WIN32
#include "common/windows_test_util.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "support/text.h"

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
    std::filesystem::create_directory(dir.File("Hostfiles"));
    WriteFile(dir.File("Hostfiles/H_0_Header.txt"), kHeader);
    WriteFile(dir.File("Hostfiles/H_Ads.txt"), "127.0.0.1 ads.example\n0.0.0.0 more.example\n");
    WriteFile(dir.File("Hostfiles/H_Mal.txt"), "0.0.0.0 mal.example");
    WriteFile(Hosts(), kOldHosts);
  }
  std::string Hosts() const { return sys.File("hosts"); }

  // Runs the program with the folder and hosts options first, unless `plain`. `args` are split
  // at blanks (the temporary folders hold none). The program is run as the programs run
  // others: platform::RunAndWait, its output collected and its error output in a file.
  Result Run(const std::string& args, bool plain = false) const {
    std::vector<std::string> argv = {Program()};
    if (!plain) argv.insert(argv.end(), {"--folder", dir.path(), "--hosts", Hosts()});
    std::istringstream words(args);
    for (std::string word; words >> word;) argv.push_back(word);
    const std::string err = sys.File("err");
    platform::RunResult run;
    {
      const ErrorOutputTo redirect(err);
      platform::RunOptions options;
      options.collect_output = true;
      options.max_output = std::size_t{1} << 20;
      run = platform::RunAndWait(argv, options);
    }
    EXPECT_TRUE(run.started && !run.timed_out) << argv.front();
    // Console text on Windows ends its lines in CR LF.
    return {run.exit_code, support::ReplaceAll(run.output, "\r\n", "\n"),
            support::ReplaceAll(ReadFile(err), "\r\n", "\n")};
  }

  // The program as a full path, which RunAndWait needs.
  static std::string Program() {
    return std::filesystem::absolute(std::filesystem::path(VELLOMAR_CLI)).make_preferred().string();
  }

  // This process's error output goes to a file while the object lives, and so does that of
  // the programs it runs meanwhile.
  class ErrorOutputTo {
   public:
    explicit ErrorOutputTo(const std::string& path) {
#ifdef _WIN32
      SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
      file_ = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      old_ = ::GetStdHandle(STD_ERROR_HANDLE);
      ::SetStdHandle(STD_ERROR_HANDLE, file_);
#else
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      old_ = ::dup(2);
      ::dup2(fd, 2);
      ::close(fd);
#endif
    }
    ~ErrorOutputTo() {
#ifdef _WIN32
      ::SetStdHandle(STD_ERROR_HANDLE, old_);
      ::CloseHandle(file_);
#else
      ::dup2(old_, 2);
      ::close(old_);
#endif
    }
    ErrorOutputTo(const ErrorOutputTo&) = delete;
    ErrorOutputTo& operator=(const ErrorOutputTo&) = delete;

   private:
#ifdef _WIN32
    HANDLE file_;
    HANDLE old_;
#else
    int old_;
#endif
  };

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
#ifdef _WIN32
  GTEST_SKIP() << "writes LF files and makes a FIFO; CrLfFilesMergeInstallAndReportTheirStatus "
                  "runs on Windows";
#else
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
#endif
}

TEST_F(CliTest, InstallListStatusUpdateAndRestoreFollowTheHostsFile) {
#ifdef _WIN32
  GTEST_SKIP() << "writes LF files, which the Windows dialect counts as single lines; "
                  "CrLfFilesMergeInstallAndReportTheirStatus runs on Windows";
#else
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
#endif
}

// A hosts file that cannot be written: exit 1, each log text on stderr, nothing changed.
TEST_F(CliTest, AFailedInstallSaysWhatItLogged) {
#ifdef _WIN32
  GTEST_SKIP() << "writes over /proc/version";
#else
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
#endif
}

TEST_F(CliTest, DnsCommandsRunTheResolverToolAndSayWhenItFails) {
#ifdef _WIN32
  GTEST_SKIP() << "the resolver tool is a /bin/sh script; windows_platform_test runs a stand-in "
                  "for ipconfig";
#else
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
#endif
}

// With no --hosts the probed /etc/hosts is written: only inside a private mount namespace
// whose /etc is a fresh tmpfs.
TEST_F(CliTest, InstallAndRestoreOfTheSystemHostsFileInAPrivateNamespace) {
#ifdef _WIN32
  GTEST_SKIP() << "needs root, unshare and a mount namespace";
#else
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
#endif
}

// The helper pkexec runs: input only from stdin, every refusal, the link rule, the original kept
// and put back by restore --original; as root, against a tmpfs /etc in a private namespace.
TEST_F(CliTest, TheInstallHelperInstallsItsInputOrRefusesWithItsStatus) {
#ifdef _WIN32
  GTEST_SKIP() << "the install helper is started by pkexec, which Windows has not";
#else
  if (::geteuid() != 0 || std::system("command -v unshare >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and unshare";
  }
  const std::string command = std::string("unshare -m ") + VELLOMAR_HELPER_SCRIPT + " " +
                              VELLOMAR_HELPER + " " + VELLOMAR_CLI + " " + sys.path() + " " +
                              dir.path();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string old = "127.0.0.1 localhost\n127.0.1.1 box7\n";
  EXPECT_EQ(ReadFile(sys.File("codes")), " 8 0 4 6 5 0 0 0 3\n");
  EXPECT_EQ(ReadFile(sys.File("first")), "0.0.0.0 a\n");
  EXPECT_EQ(ReadFile(sys.File("zrb")), old);
  EXPECT_EQ(ReadFile(sys.File("orig")), old);
  EXPECT_EQ(ReadFile(sys.File("after-refusals")), "0.0.0.0 a\n");
  EXPECT_EQ(ReadFile(sys.File("restored")), old);
  EXPECT_EQ(ReadFile(sys.File("orig2")), old);
  EXPECT_EQ(ReadFile(sys.File("real")), "linked\n");
  EXPECT_EQ(ReadFile(sys.File("is-link")), "link\n");
  EXPECT_EQ(ReadFile(sys.File("no-hosts")), "none\n");
#endif
}

#ifdef _WIN32
// Windows end to end: sources saved with CR LF merge into a CR LF file, which installs over a
// hosts file given with --hosts (the old one kept as the backup), and the status and exit codes
// follow the files.
TEST_F(CliTest, CrLfFilesMergeInstallAndReportTheirStatus) {
  const auto crlf = [](const std::string& text) { return support::ReplaceAll(text, "\n", "\r\n"); };
  WriteFile(dir.File("Hostfiles\\H_0_Header.txt"), crlf(kHeader));
  WriteFile(dir.File("Hostfiles\\H_Ads.txt"), "127.0.0.1 ads.example\r\n0.0.0.0 more.example\r\n");
  WriteFile(Hosts(), crlf(kOldHosts));

  const Result merged_run =
      Run("merge --mode 127.0.0.1 --output " + sys.File("m.txt") + " H_0_Header.txt H_Ads.txt");
  ASSERT_EQ(merged_run.code, 0) << merged_run.err;
  const std::string merged = ReadFile(sys.File("m.txt"));
  EXPECT_EQ(merged, crlf(kHeader +
                         "\n# [Start of H_Ads.txt entries]\n127.0.0.1 ads.example\n"
                         "127.0.0.1 more.example\n\n# [End of H_Ads.txt entries]\n" +
                         kSeparator));
  EXPECT_EQ(merged_run.out, "Merged 14 Lines - len: " + std::to_string(merged.size()) +
                                " - File:[ " + sys.File("m.txt") + " ]\n");

  const Result install = Run("install " + sys.File("m.txt"));
  EXPECT_EQ(install.code, 0) << install.err;
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), crlf(kOldHosts));

  // The status compares the installed file with the program folder's merged file.
  EXPECT_EQ(Run("status").code, 2);  // no merged file in the program folder yet
  ASSERT_EQ(Run("merge --mode 127.0.0.1 H_0_Header.txt H_Ads.txt").code, 0);
  const Result same = Run("status");
  EXPECT_EQ(same.code, 0) << same.err;
  EXPECT_NE(same.out.find("The installed file is the merged file."), std::string::npos);
  WriteFile(dir.File("Hostfiles\\H_0_Header.txt"),
            crlf(support::ReplaceAll(kHeader, "2026-12-01", "2026-12-09")));
  ASSERT_EQ(Run("merge H_0_Header.txt").code, 0);
  EXPECT_EQ(Run("status").code, 1);

  // A read-only hosts file is not written; a missing source writes nothing.
  ASSERT_TRUE(::SetFileAttributesA(Hosts().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Run("install").code, 0);  // the read-only mark is cleared and put back
  EXPECT_NE(::GetFileAttributesA(Hosts().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadFile(Hosts()), ReadFile(dir.File("M_Hosts.txt")));
  const Result missing = Run("merge H_0_Header.txt H_Nope.txt");
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("no source H_Nope.txt"), std::string::npos) << missing.err;
}
#endif

}  // namespace
}  // namespace vellomar::cli
