// vellomar-cli run as a process over a temporary program folder and hosts file: its commands,
// exit statuses and messages. The rules behind them are the session's tests.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/test_util.h"
#include "platform/platform.h"
#include "support/line_end.h"
#include "support/text.h"

namespace vellomar::cli {
namespace {

using namespace vellomar::testing;  // TempDir, WriteFile, ReadFile, Exists

// `text`, written with LF, in the line end of the system the program runs on.
std::string Native(const std::string& text) {
  return support::NativeLineEnd() == support::LineEnd::kLf
             ? text
             : support::ReplaceAll(text, "\n", "\r\n");
}

const std::string kHeader =
    "# Test header\n# ------- Updated: 2026-12-01 -------\n# ------- Created: 2026-12-02 "
    "-------\n127.0.0.1 localhost\n::1 localhost\n";
const std::string kOldHosts = "127.0.0.1 localhost\n# the hosts file before\n";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    std::filesystem::create_directory(dir.File("Hostfiles"));
    WriteFile(dir.File("Hostfiles/H_0_Header.txt"), Native(kHeader));
    WriteFile(dir.File("Hostfiles/H_Ads.txt"),
              Native("127.0.0.1 ads.example\n0.0.0.0 more.example\n"));
    WriteFile(dir.File("Hostfiles/H_Mal.txt"), "0.0.0.0 mal.example");
    WriteFile(Hosts(), Native(kOldHosts));
  }
  std::string Hosts() const { return sys.File("hosts"); }

  // Runs the program with the folder and hosts options first, unless `plain`. `args` are split
  // at blanks (the temporary folders hold none).
  Result Run(const std::string& args, bool plain = false) const {
    std::vector<std::string> argv = {
        std::filesystem::absolute(VELLOMAR_CLI).make_preferred().string()};
    if (!plain) argv.insert(argv.end(), {"--folder", dir.path(), "--hosts", Hosts()});
    std::istringstream words(args);
    for (std::string word; words >> word;) argv.push_back(word);
    platform::RunOptions options;
    options.collect_output = true;
    options.max_output = std::size_t{1} << 20;
    options.collect_errors = true;
    const platform::RunResult run = platform::RunAndWait(argv, options);
    EXPECT_TRUE(run.started && !run.timed_out) << argv.front();
    // Console text on Windows ends its lines in CR LF.
    return {run.exit_code, support::ReplaceAll(run.output, "\r\n", "\n"),
            support::ReplaceAll(run.error_output, "\r\n", "\n")};
  }
  // What `args` says on stderr, which must also end the program with `code`.
  std::string Refusal(const std::string& args, int code = 2) const {
    const Result r = Run(args);
    EXPECT_EQ(r.code, code) << args << ": " << r.err;
    EXPECT_EQ(r.err.rfind("vellomar-cli: ", 0), 0u) << args << ": " << r.err;
    return r.err;
  }

  TempDir dir;  // the program folder
  TempDir sys;  // the hosts file and other files
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
  const Result help = Run("--help", true);
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(Contains(help.out, "restore [--original]"));
  EXPECT_EQ(Run("--version", true).out, "vellomar-cli 1.0.61\n");
  for (const auto& [bad, says] : std::vector<std::pair<std::string, std::string>>{
           {"", "no command given"},
           {"frobnicate", "unknown command frobnicate"},
           {"list --bogus", "unknown option --bogus"},
           {"merge", "merge needs a header entry"},
           {"merge --mode 1.2.3.4 H_0", "unknown mode 1.2.3.4 (keep, 127.0.0.1 or 0.0.0.0)"},
           {"dns", "dns needs one of: flush, show"},
           {"dns purge", "unknown dns command purge"},
           {"status extra", "status takes no operands"},
           {"list --dedupe", "--dedupe is for merge and update only"},
           {"install --pack", "--pack is for merge and update only"},
           {"fetch --timeout 0", "--timeout takes a number of seconds from 1 to 86400"},
           {"fetch --max-size 1k", "--max-size takes a number of bytes from 1 to 268435456"},
           {"fetch H_Nope.url", "no subscription H_Nope.url in " + dir.File("Hostfiles")},
           {"export", "export needs --format unbound, dnsmasq, rpz or domains"},
           {"export --format bind", "unknown format bind (unbound, dnsmasq, rpz or domains)"},
           {"export --format rpz --reload",
            "--reload needs --output FILE, the file the resolver reads"},
           {"list --subdomains", "--format, --from, --subdomains and --reload are for export only"},
           {"--folder " + sys.File("none") + " list", "no folder " + sys.File("none")}}) {
    EXPECT_EQ(Refusal(bad).find("vellomar-cli: " + says + "\n"), 0u) << bad;
  }
}

// Query names each line of the sources and of the hosts file that maps the name, then the
// allowlist; the exit status says whether any line maps it, or that the name was no name.
TEST_F(CliTest, QuerySaysWhichLinesMapANameAndWhetherTheAllowlistFreesIt) {
  WriteFile(dir.File("Hostfiles/allow.txt"), "more.example\n");
  WriteFile(Hosts(), Native(kOldHosts + "10.0.0.5 nas.home\n"));
  for (const auto& [args, code, out] : std::vector<std::tuple<std::string, int, std::string>>{
           {"query ADS.example.", 0, "H_Ads.txt:1: 127.0.0.1 ads.example (blocks)\n"},
           {"query more.example", 0,
            "H_Ads.txt:2: 0.0.0.0 more.example (blocks)\nallow.txt frees more.example\n"},
           {"query mal.example", 0, "H_Mal.txt:1: 0.0.0.0 mal.example (blocks)\n"},
           {"query nas.home", 0, "hosts file " + Hosts() + ":3: 10.0.0.5 nas.home\n"},
           {"query none.example", 1, "none.example: no source and not the hosts file maps it\n"},
           {"query", 2, ""},
           {"query a.example b.example", 2, ""},
           {"query a#b", 2, ""}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.code, code) << args << ": " << r.err;
    EXPECT_EQ(r.out, out) << args;
  }
}

// Merge writes the ticked entries in list order, by the mode asked for (default 0.0.0.0), and
// prints its summary; every refusal names its cause and leaves the output as it was.
TEST_F(CliTest, MergeWritesTheNamedEntriesOrRefusesAndWritesNothing) {
  const Result r = Run("merge --mode keep --output " + sys.File("m.txt") +
                       " H_0_Header.txt H_Mal.txt H_Ads.txt");
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string merged = ReadFile(sys.File("m.txt"));
  EXPECT_LT(merged.find("[Start of H_Ads.txt entries]"), merged.find("[Start of H_Mal.txt"));
  EXPECT_TRUE(Contains(merged, Native("\n127.0.0.1 ads.example\n")));
  EXPECT_EQ(r.out, "Merged 19 Lines - len: " + std::to_string(merged.size()) + " - File:[ " +
                       sys.File("m.txt") + " ]\n");
  EXPECT_EQ(Run("merge H_0_Header.txt H_Ads.txt").code, 0);
  EXPECT_TRUE(Contains(ReadFile(dir.File("M_Hosts.txt")), Native("\n0.0.0.0 ads.example")));

  std::filesystem::create_directory(dir.File("Hostfiles/H_Dir.txt"));
  const std::string nowhere = platform::JoinPath(sys.File("no"), "m.txt");
  WriteFile(dir.File("Hostfiles/H_a,b.txt"), "0.0.0.0 ab.example\n");
  for (const auto& [args, says] : std::vector<std::pair<std::string, std::string>>{
           {"H_Ads.txt", "H_Ads.txt is not a header entry"},
           {"H_0_Header.txt H_Nope.txt", "no source H_Nope.txt"},
           {"H_0_Header.txt H_Dir.txt", "H_Dir.txt is not a source entry: not a visible regular"},
           {"H_0_Header.txt H_a,b.txt", "H_a,b.txt is not a source entry: its name holds \",\""},
           {"--output " + nowhere + " H_0_Header.txt", "no folder for " + nowhere}}) {
    EXPECT_TRUE(Contains(Refusal("merge --output " + sys.File("m.txt") + " " + args), says))
        << args;
    EXPECT_EQ(ReadFile(sys.File("m.txt")), merged) << args;
  }
  std::filesystem::rename(dir.File("Hostfiles"), dir.File("Elsewhere"));
  EXPECT_TRUE(
      Contains(Refusal("merge H_0_Header.txt"), "no source folder " + dir.File("Hostfiles")));
}

// The allowlist, --dedupe and --pack shape what merge writes and what update installs.
TEST_F(CliTest, MergeAndUpdateTakeTheAllowlistAndTheNameOptions) {
  WriteFile(dir.File("Hostfiles/H_Dup.txt"),
            Native("0.0.0.0 mal.example ads.example\n0.0.0.0 x\n"));
  WriteFile(dir.File("Hostfiles/allow.txt"), Native("MORE.example\n"));
  const Result r = Run("merge --dedupe --pack H_0_Header.txt H_Ads.txt H_Dup.txt H_Mal.txt");
  EXPECT_TRUE(r.out.ends_with(" - 1 name allowed - 2 duplicate names left out\n")) << r.err;
  for (const char* section :
       {"H_Ads.txt entries]\n0.0.0.0 ads.example\n\n#",
        "H_Dup.txt entries]\n0.0.0.0 mal.example x\n\n#", "Start of H_Mal.txt entries]\n\n#"}) {
    EXPECT_TRUE(Contains(ReadFile(dir.File("M_Hosts.txt")), Native(section))) << section;
  }
  ASSERT_EQ(Run("install").code, 0);
  EXPECT_TRUE(Run("update --dedupe --pack").out.ends_with("HOSTS is up to date\n"));
  EXPECT_FALSE(Contains(Run("update").out, "HOSTS is up to date"));
}

// Export writes the merged file's names for a resolver, without the allowed ones, to stdout or
// whole to a file; unreadable input writes nothing.
TEST_F(CliTest, ExportWritesTheMergedNamesOrNothing) {
  ASSERT_EQ(Run("merge H_0_Header.txt H_Ads.txt H_Mal.txt").code, 0);
  WriteFile(dir.File("Hostfiles/allow.txt"), "more.example\n");
  const Result r = Run("export --format domains --output " + sys.File("d.txt"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(sys.File("d.txt")), "ads.example\nmal.example\n");
  WriteFile(sys.File("h.txt"), "10.0.0.1 nas.lan\r\n0.0.0.0 a! b.example\n");
  const Result out = Run("export --format dnsmasq --from " + sys.File("h.txt"));
  EXPECT_EQ(out.code, 0);
  EXPECT_TRUE(Contains(
      out.out, "\nhost-record=nas.lan,10.0.0.1\nserver=/b.example/\nserver=/*.b.example/#\n"));
  EXPECT_EQ(out.err, "vellomar-cli: 1 names left out: a! (not names a resolver takes)\n");
  WriteFile(sys.File("h.txt"), std::string("0.0.0.0 a\0", 10));
  for (const std::string& from : {sys.File("h.txt"), sys.File("none.txt")}) {
    EXPECT_TRUE(
        Contains(Refusal("export --format rpz --from " + from + " --output " + sys.File("d.txt")),
                 "cannot read " + from));
    EXPECT_EQ(ReadFile(sys.File("d.txt")), "ads.example\nmal.example\n");
  }
}

// Install, list, status, update and restore follow the hosts file; a missing or empty file to
// install is refused and nothing is written.
TEST_F(CliTest, InstallListStatusUpdateAndRestoreFollowTheHostsFile) {
  EXPECT_TRUE(Contains(Refusal("status"), "cannot read"));  // no dated lines
  EXPECT_TRUE(Contains(Refusal("restore", 1), "Could not Find " + Hosts() + ".ZRB"));
  ASSERT_EQ(Run("merge H_0_Header.txt H_Mal.txt").code, 0);
  const std::string merged = ReadFile(dir.File("M_Hosts.txt"));
  const Result install = Run("install");
  EXPECT_EQ(install.code, 0) << install.err;
  EXPECT_EQ(install.out.rfind("Done ", 0), 0u);
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), Native(kOldHosts));
  EXPECT_EQ(Run("list").out, "  H_0_Header.txt\n  H_Ads.txt\n* H_Mal.txt\n");
  const Result status = Run("status");
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.out, "Installed: " + Hosts() +
                            "\n  Updated: 2026-12-01\n  Created: 2026-12-02\nMerged: " +
                            dir.File("M_Hosts.txt") +
                            "\n  Updated: 2026-12-01\n  Created: 2026-12-02\n"
                            "The installed file is the merged file.\n");

  // Edited sources: update merges the header and the installed file's sources again.
  WriteFile(dir.File("Hostfiles/H_Mal.txt"), Native("0.0.0.0 new.example\n"));
  WriteFile(dir.File("Hostfiles/H_0_Header.txt"),
            Native(support::ReplaceAll(kHeader, "2026-12-01", "2026-12-05")));
  const Result update = Run("update");
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_TRUE(Contains(ReadFile(Hosts()), "0.0.0.0 new.example"));
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), merged);
  EXPECT_EQ(Run("restore").out, "Restored " + Hosts() + " from its backup\n");
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(Run("status").code, 1);  // the merged file is the newer one now

  EXPECT_TRUE(Contains(Refusal("install " + sys.File("missing.txt")), "missing"));
  WriteFile(sys.File("empty.txt"), "");
  EXPECT_TRUE(Contains(Refusal("install " + sys.File("empty.txt")), "is empty"));
  // NUL bytes, found as the file is copied: refused before the backup or anything else.
  WriteFile(sys.File("zeros.txt"), std::string("0.0.0.0 a\n\0", 11));
  const std::string backup = ReadFile(Hosts() + ".ZRB");
  EXPECT_TRUE(Contains(Refusal("install " + sys.File("zeros.txt"), 1),
                       "Not a hosts file (NUL bytes), not installed: " + sys.File("zeros.txt")));
  EXPECT_EQ(ReadFile(Hosts()), merged);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), backup);
}

// Update installs only what changed: a new file that differs from the hosts file in its creation
// date alone leaves the hosts file and its backup as they were, bytes and time.
TEST_F(CliTest, UpdateInstallsNothingWhenOnlyTheCreationDateDiffers) {
  ASSERT_EQ(Run("merge H_0_Header.txt H_Mal.txt").code, 0);
  ASSERT_EQ(Run("install").code, 0);
  const auto edit = [&](const std::string& path, const std::string& from, const std::string& to) {
    return [=] { WriteFile(path, support::ReplaceAll(ReadFile(path), from, to)); };
  };
  for (const auto& [change, installs] : std::vector<std::pair<std::function<void()>, bool>>{
           {edit(Hosts(), "Created: 2026-12-02", "Created: 2026-11-30 10:00"), false},
           {edit(Hosts(), "Updated: 2026-12-01", "Updated: 2026-11-30"), true},
           {edit(dir.File("Hostfiles/H_Mal.txt"), "mal.example", "mal2.example"), true},
           {edit(Hosts(), "mal2.example", "mal3.example"), true}}) {
    change();
    const std::string hosts = ReadFile(Hosts());
    const std::string backup = ReadFile(Hosts() + ".ZRB");
    const auto written = std::filesystem::last_write_time(Hosts());
    const auto backed_up = std::filesystem::last_write_time(Hosts() + ".ZRB");
    const Result r = Run("update");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Contains(r.out, "\nHOSTS is up to date\n"), !installs) << r.out;
    EXPECT_EQ(ReadFile(Hosts()), installs ? ReadFile(dir.File("M_Hosts.txt")) : hosts);
    EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), installs ? hosts : backup);
    if (!installs) {
      EXPECT_EQ(std::filesystem::last_write_time(Hosts()), written);
      EXPECT_EQ(std::filesystem::last_write_time(Hosts() + ".ZRB"), backed_up);
    }
  }
}

// A dry run lists what each source would add and remove, writes nothing, and exits 1 when
// something would change, 0 when nothing would.
TEST_F(CliTest, ADryRunSaysWhatWouldChangeAndWritesNothing) {
  ASSERT_EQ(Run("merge H_0_Header.txt H_Ads.txt H_Mal.txt").code, 0);
  ASSERT_EQ(Run("install").code, 0);
  const std::string merged = ReadFile(dir.File("M_Hosts.txt"));
  const std::string hosts = ReadFile(Hosts());
  const std::string backup = ReadFile(Hosts() + ".ZRB");
  std::string added;
  for (int i = 1; i <= 12; ++i) added += " n" + std::to_string(i);
  WriteFile(dir.File("Hostfiles/H_Ads.txt"), Native("0.0.0.0 more.example" + added + "\n"));
  // Leftovers of killed runs may lie in the shared private folder: only new files count.
  const auto private_files = [] {
    return platform::ListFolder(platform::PrivateFolder()).value_or(std::vector<std::string>{});
  };
  const std::vector<std::string> before = private_files();
  Result r = Run("update --dry-run");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out,
            "H_Ads.txt: +12 -1\n  + n1\n  + n2\n  + n3\n  + n4\n  + n5\n  + n6\n  + n7\n"
            "  + n8\n  + n9\n  + n10\n  ... and 2 more added\n  - ads.example\n"
            "HOSTS would change\n");
  EXPECT_EQ(ReadFile(dir.File("M_Hosts.txt")), merged);
  EXPECT_EQ(ReadFile(Hosts()), hosts);
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), backup);
  for (const auto& name : private_files()) {
    EXPECT_TRUE(!Contains(name, "dry-run") ||
                std::find(before.begin(), before.end(), name) != before.end())
        << name;
  }
  EXPECT_EQ(Run("update --mode keep --dry-run").out.rfind("H_Ads.txt: +12 -1\n", 0), 0u);
  WriteFile(dir.File("Hostfiles/H_Ads.txt"),
            Native("127.0.0.1 ads.example\n0.0.0.0 more.example\n"));
  r = Run("update --dry-run");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "HOSTS is up to date\n");
  r = Run("update --mode keep --dry-run");  // an address changes: no name does
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out, "HOSTS would change\n");
  EXPECT_TRUE(Contains(Refusal("install --dry-run"), "--dry-run is for update only"));
  EXPECT_TRUE(Contains(Refusal("list --force"), "--force is for install and update only"));
}

// An install or update over a hosts file of the user's making that would drop entries of their
// own is refused and names them; --force installs.
TEST_F(CliTest, EntriesOfTheUsersOwnAreDroppedOnlyWithForce) {
  const std::string own = Native("127.0.0.1 localhost\n192.168.1.10 nas\n::1 localhost\n");
  WriteFile(Hosts(), own);
  ASSERT_EQ(Run("merge H_0_Header.txt H_Mal.txt").code, 0);
  for (const std::string command : {"install", "update"}) {
    const std::string said = Refusal(command, 1);
    EXPECT_TRUE(
        Contains(said, "entries of your own that the new file lacks:\n  192.168.1.10 nas\n"))
        << said;
    EXPECT_TRUE(Contains(said, "--force")) << said;
    EXPECT_EQ(ReadFile(Hosts()), own);
    EXPECT_FALSE(Exists(Hosts() + ".ZRB"));
  }
  const Result forced = Run("install --force");
  EXPECT_EQ(forced.code, 0) << forced.err;
  EXPECT_EQ(ReadFile(Hosts()), ReadFile(dir.File("M_Hosts.txt")));
  EXPECT_EQ(ReadFile(Hosts() + ".ZRB"), own);
}

#ifndef _WIN32
// A hosts file that cannot be written: exit 1, each log text on stderr, nothing changed.
TEST_F(CliTest, AFailedInstallSaysWhatItLogged) {
  ASSERT_EQ(Run("merge H_0_Header.txt").code, 0);
  const std::string version = ReadFile("/proc/version");
  const Result r = Run("--folder " + dir.path() + " --hosts /proc/version install", true);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "vellomar-cli: Did not backup /proc/version\n"));
  EXPECT_TRUE(
      Contains(r.err, "vellomar-cli: You may need to run as Administrator HOSTS Write Failed\n"));
  EXPECT_EQ(ReadFile("/proc/version"), version);
  EXPECT_TRUE(Contains(ReadFile(dir.File("vellomar_Log.txt")), "Did not backup /proc/version\n"));
}

TEST_F(CliTest, DnsCommandsRunTheResolverToolAndSayWhenItFails) {
  const std::string tool = sys.File("resolvectl");
  WriteScript(tool, "#!/bin/sh\necho \"$@\" >> " + sys.File("calls") +
                        "\n[ \"$1\" = show-cache ] && printf 'example.com IN A 93.184.216.34\\n'\n"
                        "exit 0\n");
  EXPECT_EQ(Run("--resolver " + tool + " dns flush").code, 0);
  EXPECT_EQ(ReadFile(sys.File("calls")), "flush-caches\n");
  const Result show = Run("--resolver " + tool + " dns show");
  EXPECT_EQ(show.code, 0) << show.err;
  EXPECT_TRUE(Contains(show.out, "93.184.216.34"));

  WriteScript(tool, "#!/bin/sh\necho 'Unknown command verb show-cache.' >&2\nexit 1\n");
  const Result old = Run("--resolver " + tool + " dns show");
  EXPECT_EQ(old.code, 1);
  EXPECT_TRUE(Contains(old.err,
                       "vellomar-cli: the cache listing failed: " + tool + " ended with status 1"));
  EXPECT_EQ(Run("--resolver " + tool + " dns flush").code, 1);
  // A successful install with --flush reports the failed flush.
  ASSERT_EQ(Run("merge H_0_Header.txt").code, 0);
  EXPECT_EQ(Run("--resolver " + tool + " install --flush").code, 1);
  EXPECT_EQ(ReadFile(Hosts()), ReadFile(dir.File("M_Hosts.txt")));
  // After an install, a resolver that says no cache service runs is a warning.
  const std::string no_service =
      "Failed to flush caches: Unit dbus-org.freedesktop.resolve1.service not found.";
  WriteScript(tool, "#!/bin/sh\necho '" + no_service + "' >&2\nexit 1\n");
  const Result warned = Run("--resolver " + tool + " install --flush");
  EXPECT_EQ(warned.code, 0) << warned.err;
  EXPECT_EQ(warned.err, no_service + "\nvellomar-cli: warning: " + tool +
                            " says no resolver cache service runs: there is no cache to flush\n");
  EXPECT_EQ(Run("--resolver " + tool + " dns flush").code, 1);
}

// A port on 127.0.0.1 that takes connections (the system's backlog) and never answers, when
// `listening`; else one that was free a moment ago.
int LoopbackPort(int& listening) {
  listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listening, 4) != 0 ||
      ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// nginx on 127.0.0.1 over a folder of the test's, plain and with a certificate made now, as
// whatever user runs the tests.
class WebServer {
 public:
  explicit WebServer(const TempDir& dir) : dir_(dir) {}
  ~WebServer() {
    if (nginx_) nginx_->Kill();
    for (const int fd : sockets_) ::close(fd);
  }
  // Why it does not run; empty once it does.
  std::string Start(const std::string& list) {
    if (!Exists("/usr/sbin/nginx") || !Exists("/usr/bin/openssl")) {
      return "nginx or openssl is not installed (Debian packages nginx, openssl)";
    }
    ::setenv("no_proxy", "*", 1);  // loopback is never asked through a proxy
    for (int* port : {&http_, &https_, &silent_}) *port = LoopbackPort(sockets_.emplace_back());
    ::close(sockets_[0]);  // nginx takes these two
    ::close(sockets_[1]);
    sockets_.erase(sockets_.begin(), sockets_.begin() + 2);
    std::filesystem::create_directories(dir_.File("www"));
    std::filesystem::create_directories(dir_.File("tmp"));
    WriteFile(dir_.File("www/list.txt"), list);
    WriteFile(dir_.File("www/page.html"), "<!DOCTYPE html>\n<p>Sign in</p>\n0.0.0.0 a.example\n");
    WriteFile(dir_.File("www/big.txt"), std::string(1 << 20, '#') + "\n0.0.0.0 a\n");
    platform::RunOptions quiet;  // what openssl says goes nowhere
    quiet.collect_errors = true;
    const platform::RunResult made =
        platform::RunAndWait({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                              "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                              dir_.File("key.pem"), "-out", Certificate()},
                             quiet);
    if (made.exit_code != 0) return "openssl could not make a certificate";
    const std::string d = dir_.path();
    WriteFile(d + "/nginx.conf",
              "master_process off;\nevents {}\nhttp {\n"
              "  log_format fetch '$status $uri $body_bytes_sent';\n"
              "  access_log " +
                  d +
                  "/access.log fetch;\n"
                  "  client_body_temp_path " +
                  d + "/tmp; proxy_temp_path " + d +
                  "/tmp;\n"
                  "  fastcgi_temp_path " +
                  d + "/tmp; uwsgi_temp_path " + d +
                  "/tmp;\n"
                  "  scgi_temp_path " +
                  d +
                  "/tmp;\n"
                  "  gzip on; gzip_types text/plain; gzip_min_length 1;\n"
                  "  server { listen 127.0.0.1:" +
                  std::to_string(http_) + "; root " + d +
                  "/www;\n"
                  "    location = /loop { return 302 /loop; } }\n"
                  "  server { listen 127.0.0.1:" +
                  std::to_string(https_) + " ssl; root " + d +
                  "/www;\n"
                  "    ssl_certificate " +
                  Certificate() + "; ssl_certificate_key " + d +
                  "/key.pem;\n"
                  "    location = /down { return 302 " +
                  Url(false, "/list.txt") + "; } }\n}\n");
    output_ = platform::CreateOwnFile(d + "/nginx.out");
    platform::StartResult started;
    nginx_ = platform::StartWithOutput(
        {"/usr/sbin/nginx", "-e", "stderr", "-p", d, "-c", d + "/nginx.conf", "-g",
         "daemon off; pid " + d + "/nginx.pid; error_log stderr;"},
        *output_, started);
    for (int tries = 0; nginx_ && tries < 100; ++tries) {
      if (Answers(http_) && Answers(https_)) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "nginx did not start: " + ReadFile(d + "/nginx.out");
  }
  std::string Url(bool https, const std::string& path) const {
    return (https ? "https://127.0.0.1:" + std::to_string(https_)
                  : "http://127.0.0.1:" + std::to_string(http_)) +
           path;
  }
  std::string Silent() const { return "http://127.0.0.1:" + std::to_string(silent_) + "/list.txt"; }
  std::string Certificate() const { return dir_.File("cert.pem"); }
  // The last line of the access log: status, path, body bytes sent.
  std::string LastRequest() const {
    const std::string log = ReadFile(dir_.File("access.log"));
    return log.substr(log.rfind('\n', log.size() - 2) + 1);
  }

 private:
  static bool Answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
  }

  const TempDir& dir_;
  int http_ = 0, https_ = 0, silent_ = 0;
  std::vector<int> sockets_;
  std::unique_ptr<platform::OwnFile> output_;
  std::unique_ptr<platform::ChildProcess> nginx_;
};

// fetch against nginx: a list arrives (compressed on the way, counted decoded), a second fetch
// is a 304 that leaves the file alone, every refusal keeps the last copy and says why, and
// update --fetch installs what it fetched even when another list failed.
TEST_F(CliTest, FetchTakesListsFromAWebServerAndKeepsTheLastCopyOfARefusedOne) {
  TempDir web_dir;
  WebServer web(web_dir);
  std::string list;
  for (int i = 0; i < 2000; ++i) list += "0.0.0.0 host" + std::to_string(i) + ".example\n";
  if (const std::string why = web.Start(list); !why.empty()) GTEST_SKIP() << why;
  const std::string copy = dir.File("Hostfiles/H_Web.txt");
  WriteFile(dir.File("Hostfiles/H_Web.url"), web.Url(false, "/list.txt") + "\n");
  const Result first = Run("fetch");
  EXPECT_EQ(first.out, "H_Web.txt: updated (" + std::to_string(list.size()) + " bytes)\n")
      << first.err;
  EXPECT_EQ(first.code, 0);
  EXPECT_EQ(ReadFile(copy), list);
  const std::string sent = web.LastRequest();  // gzip: far fewer bytes than the list's
  EXPECT_EQ(sent.rfind("200 /list.txt ", 0), 0u) << sent;
  EXPECT_LT(std::stoul(sent.substr(14)), list.size() / 4) << sent;
  const auto written = std::filesystem::last_write_time(copy);
  EXPECT_EQ(Run("fetch H_Web.url").out, "H_Web.txt: unchanged\n");
  EXPECT_EQ(web.LastRequest(), "304 /list.txt 0\n");
  EXPECT_EQ(std::filesystem::last_write_time(copy), written);

  const std::string ca = " --ca-file " + web.Certificate();
  for (const auto& [url, args, says] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {web.Url(false, "/missing.txt"), "", "the server answered 404"},
           {web.Url(false, "/page.html"), "", "an HTML page, not a hosts list"},
           {web.Url(false, "/big.txt"), " --max-size 100000", "too large"},
           {web.Url(false, "/loop"), "", "too many redirects: more than 5 redirects"},
           {web.Url(true, "/list.txt"), "", "the server's certificate does not verify: "},
           {web.Url(true, "/down"), ca, "redirected from https to http: redirected to http://"},
           {web.Silent(), " --timeout 1", "timed out: "}}) {
    WriteFile(dir.File("Hostfiles/H_Web.url"), url + "\n");
    const auto start = std::chrono::steady_clock::now();
    const Result r = Run("fetch" + args);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.code, 1) << url;
    EXPECT_EQ(r.err.rfind("vellomar-cli: H_Web.txt: not updated: " + says, 0), 0u) << r.err;
    EXPECT_TRUE(Contains(r.err, " (the last copy is kept)\n"));
    EXPECT_EQ(ReadFile(copy), list) << url;
    EXPECT_LT(took, std::chrono::seconds(4)) << url;
    if (args == " --timeout 1") {
      EXPECT_GE(took, std::chrono::milliseconds(900));
    }
  }
  WriteFile(dir.File("Hostfiles/H_Web.url"), web.Url(true, "/list.txt") + "\n");
  EXPECT_EQ(Run("fetch" + ca).code, 0);  // the certificate made for the test is trusted now

  ASSERT_EQ(Run("merge H_0_Header.txt H_Web.txt").code, 0);
  ASSERT_EQ(Run("install").code, 0);
  WriteFile(web_dir.File("www/list.txt"), "0.0.0.0 fresh.example\n");
  WriteFile(dir.File("Hostfiles/H_Gone.url"), web.Url(false, "/gone.txt"));
  const Result update = Run("update --fetch" + ca);
  EXPECT_EQ(update.code, 1);
  EXPECT_EQ(update.out.rfind("H_Web.txt: updated (22 bytes)\nMerged ", 0), 0u) << update.out;
  EXPECT_EQ(update.err,
            "vellomar-cli: H_Gone.txt: not updated: the server answered 404 (there is "
            "no copy yet)\n");
  EXPECT_TRUE(Contains(ReadFile(Hosts()), "\n0.0.0.0 fresh.example\n"));
}
#endif

}  // namespace
}  // namespace vellomar::cli
