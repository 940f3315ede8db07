#include "cli/command_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/source_list.h"
#include "catalogue/version_report.h"
#include "dns/capture.h"
#include "dns/commands.h"
#include "dns/report.h"
#include "export/allow_list.h"
#include "export/name_query.h"
#include "export/resolver_export.h"
#include "fetch/subscription.h"
#include "install/entries.h"
#include "install/verdict.h"
#include "merge/merge_writer.h"
#include "platform/platform.h"
#include "session/session.h"
#include "support/file_reader.h"
#include "view/status_text.h"

namespace vellomar::cli {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kProgramWaitMs = 60000;                            // a resolver or service command
constexpr std::size_t kMaxListing = std::size_t{64} << 20;       // a cache listing read whole
constexpr std::size_t kMaxAuthorities = std::size_t{1} << 20;    // a --ca-file read whole
constexpr std::size_t kMaxReloadOutput = std::size_t{64} << 10;  // what a reload tool says
constexpr std::uint64_t kMaxPidFile = 64;
constexpr const char* kDnsmasqPidFile = "/run/dnsmasq/dnsmasq.pid";  // Debian's
constexpr long long kMaxTimeoutSeconds = 86400;
constexpr std::size_t kListedNames = 10;  // names a dry run lists for each source and sign

constexpr const char* kUsageText =
    R"(Usage: vellomar-cli [--folder DIR | --system] [--hosts FILE] [--resolver FILE] COMMAND [ARGS]

Builds the system hosts file from the sources in DIR/Hostfiles (H_*.txt) and installs it,
by the same rules as the Vellomar window.

Commands:
  list                      the source entries in list order; "* " marks those that the
                            installed hosts file names, "  " the others
  merge [--mode MODE] [--dedupe] [--pack] [--output FILE] HEADER [SOURCE...]
                            merges the header entry and the sources, in list order, into
                            FILE (default DIR/M_Hosts.txt) and prints its summary
  update [--mode MODE] [--dedupe] [--pack] [--flush] [--fetch] [--force] [--dry-run]
                            merges the header entry and the sources that the installed hosts
                            file names, then installs the result; when the hosts file holds it
                            already (the "Created" line aside), installs nothing and says
                            "HOSTS is up to date". With --fetch, fetches every subscription
                            first (as fetch does). With --dry-run: writes nothing, prints the
                            names each source would add (+) and remove (-); exit 0 when nothing
                            would change, 1 when something would
  install [--flush] [--force] [FILE]
                            installs FILE (default DIR/M_Hosts.txt) over the hosts file,
                            keeping the old one as the backup (hosts file + ".ZRB")
  status                    the dated lines of the installed and the merged file
  restore [--original]      puts the backup back; the replaced file becomes the backup.
                            With --original: puts back the hosts file as it was before
                            Vellomar first wrote it (hosts file + ".vellomar-original")
  fetch [--max-size BYTES] [--timeout SECONDS] [--ca-file FILE] [NAME...]
                            fetches the list of every subscription (DIR/Hostfiles/H_Name.url
                            names the web address of H_Name.txt), or of those named
                            (H_Name.url or H_Name.txt); a failed fetch keeps the last copy
  query NAME                every line of the sources and of the hosts file that maps NAME
                            (any case, a trailing dot ignored), with its address, and whether
                            Hostfiles/allow.txt frees NAME; exit 0 when any line maps it, 1
                            when none does
  export --format FORMAT [--subdomains] [--output FILE] [--from FILE] [--reload]
                            writes the names the merged file (or FILE) blocks and the addresses
                            it gives for a network resolver: FORMAT unbound (server: lines),
                            dnsmasq (conf-file lines), rpz (the zone rpz.vellomar) or domains
                            (one blocked name a line); to stdout, or whole to --output FILE.
                            A blocked name answers NXDOMAIN where the resolver can say so for
                            that name alone (rpz, dnsmasq), else 0.0.0.0 and :: (unbound);
                            with --subdomains the names below it too, with NXDOMAIN. The
                            localhost names, the machine's own (127.0.1.1) and the names
                            allow.txt allows are never blocked. --reload then runs
                            unbound-control reload (unbound) or rndc reload (rpz), or sends
                            dnsmasq (its pid file /run/dnsmasq/dnsmasq.pid) SIGHUP, which reads
                            FILE again when it is its servers-file= (blocked names only)
  dns flush                 empties the resolver cache
  dns show                  prints the resolver cache as a table

Options:
  --folder DIR     the program folder (default: the folder of this program, as the window)
  --system         the program folder is root's, /var/lib/vellomar: made and seeded with the
                   samples when root first names it
  --hosts FILE     the system hosts file (default: the one found at start-up)
  --resolver FILE  the resolver tool (default: the one found at start-up)
  --mode MODE      keep (addresses unchanged), 127.0.0.1 (0.0.0.0 becomes 127.0.0.1) or
                   0.0.0.0 (127.0.0.1 becomes 0.0.0.0; the default)
  --dedupe         merge, update: leave a name out of a block line (0.0.0.0, 127.0.0.1, ::,
                   ::1) when an earlier line blocks it already; a line left empty goes
  --pack           merge, update: write each source's block lines again as lines of at most
                   nine names of one address ("0.0.0.0 a b c"); comments and other lines stay
  --output FILE    where merge writes (default DIR/M_Hosts.txt)
  --flush          flush the resolver cache after a successful install (a warning, not a
                   failure, when there is no resolver tool or no cache service runs)
  --force          install even when the hosts file, not written by Vellomar, holds entries of
                   your own (an address other than 0.0.0.0, 127.0.0.1, :: and ::1) that the
                   new file lacks; without it such an install is refused and lists them
  --dry-run        update: merge into a private temporary file and say what would change
  --max-size BYTES the largest list a fetch takes (default and most: 268435456)
  --timeout SECONDS how long each list's fetch may take (default 30)
  --ca-file FILE   PEM certificates of authorities trusted besides the system's
  --help           this text
  --version        the version

The names of DIR/Hostfiles/allow.txt (one a line, "#" comments, "*.example.com" for that name
and every name below it) are left out of every block line that merge and update write.

Run without root, install, update and restore ask for an administrator's password through
polkit (pkexec) when the system has it, and the hosts file is the system's own. On Windows, run
without elevation, they start the install helper elevated: one consent prompt.

The program folder of an installed copy is $XDG_DATA_HOME/vellomar (~/.local/share/vellomar).

Exit status: 0 done (status: the files match; update --dry-run: nothing would change;
query: a line maps NAME); 1 failed (status: they differ; update --dry-run: something would
change; query: no line maps NAME);
2 bad usage, missing or unreadable input (status: a file cannot be read).
)";

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void Err(const std::string& text) {
  const std::string line = "vellomar-cli: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int Usage(const std::string& problem) {
  Err(problem);
  std::fputs(
      "Usage: vellomar-cli [--folder DIR | --system] [--hosts FILE] COMMAND [ARGS]\n"
      "Try 'vellomar-cli --help' for more.\n",
      stderr);
  return kUsage;
}

// Runs each program it is asked to start and waits for it, so that the command line can say
// whether a flush worked.
class WaitingLauncher final : public platform::Launcher {
 public:
  bool Start(const std::vector<std::string>& argv, platform::WindowStyle /*style*/,
             const std::string& /*working_folder*/) override {
    platform::RunOptions options;
    options.timeout_ms = kProgramWaitMs;
    options.collect_errors = true;  // read for what it says, and passed on
    last = platform::RunAndWait(argv, options);
    std::fwrite(last.error_output.data(), 1, last.error_output.size(), stderr);
    return last.started && last.exit_code == 0;
  }
  bool ShellOpen(const std::string& /*target*/) override { return false; }

  platform::RunResult last;
};

struct Options {
  std::string folder;
  std::optional<std::string> hosts;
  std::optional<std::string> resolver;
  std::optional<std::string> output;
  merge::AddressMode mode = merge::kDefaultAddressMode;
  bool flush = false;
  bool force = false;
  bool dry_run = false;
  bool dedupe = false;
  bool pack = false;
  bool system = false;
  bool original = false;
  bool fetch = false;
  std::optional<std::string> max_size;
  std::optional<std::string> timeout;
  std::optional<std::string> ca_file;
  std::optional<std::string> format;
  std::optional<std::string> from;
  bool subdomains = false;
  bool reload = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> words;  // the command and its operands
};

std::optional<merge::AddressMode> ParseMode(const std::string& text) {
  if (text == "keep") return merge::AddressMode::kNoChange;
  if (text == "127.0.0.1") return merge::AddressMode::kUse127;
  if (text == "0.0.0.0") return merge::AddressMode::kUse0000;
  return std::nullopt;
}

// Options may stand anywhere; "--" ends them. An error text, or nullopt.
std::optional<std::string> Parse(const std::vector<std::string>& args, Options& options) {
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      options.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::optional<std::string> value;
    if (const auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.erase(equals);
    }
    const auto take = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--flush") {
      options.flush = true;
    } else if (arg == "--original") {
      options.original = true;
    } else if (arg == "--fetch") {
      options.fetch = true;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--dedupe") {
      options.dedupe = true;
    } else if (arg == "--pack") {
      options.pack = true;
    } else if (arg == "--system") {
      options.system = true;
    } else if (arg == "--subdomains") {
      options.subdomains = true;
    } else if (arg == "--reload") {
      options.reload = true;
    } else if (arg == "--folder" || arg == "--hosts" || arg == "--resolver" || arg == "--output" ||
               arg == "--mode" || arg == "--max-size" || arg == "--timeout" || arg == "--ca-file" ||
               arg == "--format" || arg == "--from") {
      const auto given = take();
      if (!given || given->empty()) return arg + " needs a value";
      if (arg == "--folder") options.folder = *given;
      if (arg == "--hosts") options.hosts = *given;
      if (arg == "--resolver") options.resolver = *given;
      if (arg == "--output") options.output = *given;
      if (arg == "--max-size") options.max_size = *given;
      if (arg == "--timeout") options.timeout = *given;
      if (arg == "--ca-file") options.ca_file = *given;
      if (arg == "--format") options.format = *given;
      if (arg == "--from") options.from = *given;
      if (arg == "--mode") {
        const auto mode = ParseMode(*given);
        if (!mode) return "unknown mode " + *given + " (keep, 127.0.0.1 or 0.0.0.0)";
        options.mode = *mode;
      }
    } else {
      return "unknown option " + arg;
    }
  }
  return std::nullopt;
}

// A whole number from 1 to `most`, in decimal digits only; nullopt otherwise.
std::optional<long long> Count(const std::string& text, long long most) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const long long value = std::stoll(text);
  if (value < 1 || value > most) return std::nullopt;
  return value;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of(platform::PathSeparator());
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// False, said on stderr, when `path` lies where the program's file functions will not go:
// (as root) in or through a folder that other users can change, or through a link that
// someone else could have planted.
bool Reachable(const std::string& path) {
  switch (platform::CheckPathSafety(path)) {
    case platform::FolderSafety::kSafe:
    case platform::FolderSafety::kMissing:
      return true;
    case platform::FolderSafety::kOpenToOthers:
    case platform::FolderSafety::kForeignOwner:
      Err("other users can change a folder on the way to " + path + ": refused as root");
      return false;
    case platform::FolderSafety::kUntrustedLink:
      Err("a link on the way to " + path + " could have been put there by another user: refused");
      return false;
  }
  return false;
}

class Commands {
 public:
  merge::MergeOptions MergeSettings() const {
    return {options_.mode, options_.dedupe, options_.pack};
  }

  Commands(const Options& options, platform::Launcher& launcher, session::Environment env)
      : options_(options), launcher_(launcher), session_(std::move(env)) {
    session_.ProbePaths();
    if (options.hosts) session_.SetHostsFilePath(*options.hosts);
    if (options.resolver) session_.SetResolverToolPath(*options.resolver);
  }

  int Run() {
    const std::string& command = options_.words.front();
    const std::vector<std::string> operands(options_.words.begin() + 1, options_.words.end());
    static const std::vector<std::string> kCommands = {"list",   "merge",   "update", "install",
                                                       "status", "restore", "fetch",  "query",
                                                       "dns",    "export"};
    if (std::find(kCommands.begin(), kCommands.end(), command) == kCommands.end()) {
      return Usage("unknown command " + command);
    }
    const bool takes_operands = command == "merge" || command == "install" || command == "fetch" ||
                                command == "query" || command == "dns";
    if (!takes_operands && !operands.empty()) return Usage(command + " takes no operands");
    if (options_.dry_run && command != "update") return Usage("--dry-run is for update only");
    if ((options_.dedupe || options_.pack) && command != "merge" && command != "update") {
      return Usage(std::string(options_.dedupe ? "--dedupe" : "--pack") +
                   " is for merge and update only");
    }
    if (options_.dry_run && options_.fetch) {
      return Usage("--dry-run writes nothing, so it does not --fetch: run fetch first");
    }
    if (options_.force && command != "update" && command != "install") {
      return Usage("--force is for install and update only");
    }
    if ((options_.format || options_.from || options_.subdomains || options_.reload) &&
        command != "export") {
      return Usage("--format, --from, --subdomains and --reload are for export only");
    }
    // Every command that reads the program folder refuses one that others can change (as
    // root): its files would be theirs to choose.
    const bool reads_folder = command == "list" || command == "merge" || command == "update" ||
                              command == "status" || command == "fetch" || command == "query" ||
                              command == "export" || (command == "install" && operands.empty());
    if (reads_folder && session_.FolderProblem()) {
      Err(view::StatusText(*session_.FolderProblem()));
      return kUsage;
    }
    if (command == "list") return List();
    if (command == "merge") return Merge(operands);
    if (command == "update") return Update();
    if (command == "install") return Install(operands);
    if (command == "status") return Status();
    if (command == "restore") return Restore();
    if (command == "fetch") return Fetch(operands);
    if (command == "query") return Query(operands);
    if (command == "dns") return Dns(operands);
    if (command == "export") return Export();
    return Usage("unknown command " + command);
  }

 private:
  // The source list as the window lists it; false, said on stderr, when there is none. Names
  // that cannot be merged are said too.
  bool ListSources() {
    const std::string folder = session_.SourceFolder();
    if (!platform::FolderExists(folder)) {
      Err("no source folder " + folder);
      return false;
    }
    session_.ListSources();
    if (session_.ListingNotice()) Err(view::AddendumText(*session_.ListingNotice()));
    return true;
  }

  bool NeedHosts() {
    const std::string& hosts = session_.HostsFilePath();
    if (hosts.empty()) {
      Err("no hosts file found (use --hosts FILE)");
      return false;
    }
    if (!Reachable(hosts)) return false;
    if (!platform::FileExists(hosts)) {
      Err("no hosts file " + hosts);
      return false;
    }
    return true;
  }

  int List() {
    if (!ListSources()) return kUsage;
    session_.ReadDatedLines(session_.HostsFilePath(), true);
    for (const auto& entry : session_.Entries()) {
      Out((entry.ticked ? "* " : "  ") + entry.name + "\n");
    }
    return kOk;
  }

  // Every source named must be in the list and readable, before anything is written.
  bool CheckSource(const std::string& name) {
    const std::string path = platform::JoinPath(session_.SourceFolder(), name);
    if (!session_.FindEntry(name)) {
      const auto listed = platform::ListFolder(session_.SourceFolder());
      if (listed && std::find(listed->begin(), listed->end(), name) != listed->end()) {
        Err(path + " is not a source entry: " +
            std::string(
                view::ExclusionText(catalogue::WhyNotListed(session_.SourceFolder(), name))));
      } else {
        Err("no source " + name + " in " + session_.SourceFolder() +
            " (names as \"vellomar-cli list\" shows them)");
      }
      return false;
    }
    platform::ReadStatus status;
    (void)support::OpenForReading(path, support::SourceReadOptions(session_.SourceFolder()),
                                  status);
    if (status != platform::ReadStatus::kOk) {
      Err("cannot read " + path + ": " + std::string(view::ReadFailureText(status)));
      return false;
    }
    return true;
  }

  // Merges the ticked entries into the merged file; prints its summary. kOk, or why not.
  int MergeTicked() {
    const session::MergeResult result = session_.MergeTickedEntries();
    const std::string said = view::StatusText(session_.Information());
    switch (result) {
      case session::MergeResult::kMerged:
        if (!session_.Information().skipped.empty()) {
          Err(said);  // a source could not be read after all
          return kFailed;
        }
        Out(said + "\n");
        return kOk;
      case session::MergeResult::kNoSelection:
      case session::MergeResult::kNoHeader:
      case session::MergeResult::kRefusedFolder:
        Err(said);
        return kUsage;
      case session::MergeResult::kNotWritten:
      case session::MergeResult::kNotReplaced:
      case session::MergeResult::kTooLarge:
      case session::MergeResult::kAlreadyMerging:
        break;
    }
    Err(said);
    return kFailed;
  }

  int Merge(const std::vector<std::string>& names) {
    if (names.empty()) return Usage("merge needs a header entry");
    if (!ListSources()) return kUsage;
    if (!merge::IsHeaderEntry(names.front())) {
      Err(names.front() + " is not a header entry (its name must contain \"header\")");
      return kUsage;
    }
    for (const auto& name : names) {
      if (!CheckSource(name)) return kUsage;
    }
    if (options_.output) {
      if (!Reachable(*options_.output)) return kUsage;
      if (!platform::FolderExists(FolderOf(*options_.output))) {
        Err("no folder for " + *options_.output);
        return kUsage;
      }
      session_.SetMergedFilePath(*options_.output);
    }
    session_.SetMergeSettings(MergeSettings());  // before any tick, so that it merges nothing
    for (const auto& name : names) session_.SetTickedQuietly(*session_.FindEntry(name), true);
    return MergeTicked();
  }

  // The limits of each list's fetch from the options; nullopt, said on stderr, when one is bad.
  std::optional<session::FetchOptions> FetchLimits() {
    session::FetchOptions limits;
    if (options_.max_size) {
      const auto bytes = Count(*options_.max_size, static_cast<long long>(platform::kMaxFileBytes));
      if (!bytes) {
        Usage("--max-size takes a number of bytes from 1 to " +
              std::to_string(platform::kMaxFileBytes));
        return std::nullopt;
      }
      limits.max_bytes = static_cast<std::uint64_t>(*bytes);
    }
    if (options_.timeout) {
      const auto seconds = Count(*options_.timeout, kMaxTimeoutSeconds);
      if (!seconds) {
        Usage("--timeout takes a number of seconds from 1 to " +
              std::to_string(kMaxTimeoutSeconds));
        return std::nullopt;
      }
      limits.timeout_ms = static_cast<int>(*seconds * 1000);
    }
    if (options_.ca_file) {
      const std::string& file = *options_.ca_file;
      if (!Reachable(file)) return std::nullopt;
      platform::ReadStatus read;
      platform::InputFile opened = support::OpenForReading(file, {}, read);
      if (read == platform::ReadStatus::kOk && opened.Facts().size > kMaxAuthorities) {
        read = platform::ReadStatus::kTooLarge;
      }
      if (read == platform::ReadStatus::kOk) read = opened.ReadAll(limits.extra_authorities);
      if (read != platform::ReadStatus::kOk) {
        Err("cannot read " + file + ": " + std::string(view::ReadFailureText(read)));
        return std::nullopt;
      }
      if (limits.extra_authorities.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        Err(file + " holds no PEM certificate");
        return std::nullopt;
      }
    }
    return limits;
  }

  // Each list's result: a success on stdout, a failure on stderr. kOk when none failed.
  int SayFetched(const std::vector<fetch::FetchResult>& results) {
    int code = kOk;
    for (const auto& result : results) {
      if (result.outcome == fetch::Outcome::kFailed) {
        Err(view::FetchResultText(result));
        code = kFailed;
      } else {
        Out(view::FetchResultText(result) + "\n");
      }
    }
    return code;
  }

  int Fetch(const std::vector<std::string>& names) {
    if (!ListSources()) return kUsage;
    const auto limits = FetchLimits();
    if (!limits) return kUsage;
    const std::vector<std::string> subscriptions = session_.Subscriptions();
    for (const auto& name : names) {
      const auto subscription = fetch::SubscriptionNamed(name);
      if (!subscription || std::find(subscriptions.begin(), subscriptions.end(), *subscription) ==
                               subscriptions.end()) {
        Err("no subscription " + name + " in " + session_.SourceFolder());
        return kUsage;
      }
    }
    if (subscriptions.empty()) {
      Err("no subscriptions in " + session_.SourceFolder() +
          ": a file H_Name.url there names the web address of the list H_Name.txt");
      return kOk;
    }
    return SayFetched(session_.FetchSubscriptions(
        names, *limits, names.empty() ? session::FetchScope::kAll : session::FetchScope::kNamed));
  }

  // One line for each line that maps the name, then whether the allowlist frees it. A file that
  // could not be read is said; when nothing maps the name, whether it is mapped is then not known.
  int Query(const std::vector<std::string>& operands) {
    if (operands.size() != 1) return Usage("query needs one name");
    if (!exports::QueryableName(operands.front())) {
      return Usage("query: \"" + operands.front() + "\" is no host name");
    }
    if (!ListSources()) return kUsage;
    if (!session_.HostsFilePath().empty() && !Reachable(session_.HostsFilePath())) return kUsage;
    const auto query = session_.FindName(operands.front());
    if (!query) {
      Err(view::StatusText(session_.Information()));
      return kUsage;
    }
    for (const exports::NamePlace& place : query->places) {
      Out((place.hosts_file ? "hosts file " : "") + place.file + ":" +
          std::to_string(place.at.line) + ": " + place.at.address + " " + place.at.name +
          (place.at.blocks ? " (blocks)\n" : "\n"));
    }
    if (query->more_places > 0) {
      Out("... and " + std::to_string(query->more_places) + " more lines\n");
    }
    if (query->allowed) {
      Out(std::string(exports::kAllowListName) + " frees " + query->name + "\n");
    }
    for (const exports::UnreadFile& file : query->unread) {
      Err("cannot read " +
          (file.hosts_file ? file.file : platform::JoinPath(session_.SourceFolder(), file.file)) +
          ": " + std::string(view::ReadFailureText(file.why)));
    }
    if (query->allow_status != platform::ReadStatus::kOk) {
      Err("cannot read " +
          platform::JoinPath(session_.SourceFolder(), std::string(exports::kAllowListName)) + ": " +
          std::string(view::ReadFailureText(query->allow_status)));
    }
    if (query->Mapped()) return kOk;
    if (!query->unread.empty()) {
      Err(query->name + ": not known, as a file could not be read");
      return kUsage;
    }
    Out(query->name + ": no source and not the hosts file maps it\n");
    return kFailed;
  }

  int Update() {
    if (!ListSources() || !NeedHosts()) return kUsage;
    // Failed fetches keep their last copies; the update goes on, and the exit status says so.
    int fetched = kOk;
    if (options_.fetch) {
      const auto limits = FetchLimits();
      if (!limits) return kUsage;
      fetched = SayFetched(session_.FetchSubscriptions({}, *limits, session::FetchScope::kAll));
      if (!ListSources()) return kUsage;
    }
    session_.SetMergeSettings(MergeSettings());  // before any tick, so that it merges nothing
    // As start-up ticks them: the first entry, then those the installed file names.
    if (!session_.Entries().empty()) session_.SetTickedQuietly(0, true);
    session_.ReadDatedLines(session_.HostsFilePath(), true);
    for (const auto& entry : session_.Entries()) {
      if (entry.ticked && !CheckSource(entry.name)) return kUsage;
    }
    if (options_.dry_run) return DryRun();
    if (const int merged = MergeTicked(); merged != kOk) return merged;
    // Only the creation date differs: installing would change nothing but the backup.
    if (session_.HostsHolds(session_.MergedFilePath())) {
      Out("HOSTS is up to date\n");
      return fetched;
    }
    const int installed = InstallMerged();
    return installed != kOk ? installed : fetched;
  }

  // The merged file goes to a private temporary file, removed at the end; the program folder,
  // the hosts file and its backup are not written.
  int DryRun() {
    const std::string folder = platform::PrivateFolder();
    if (folder.empty()) {
      Err("no private folder for the merged file of a dry run");
      return kUsage;
    }
    std::random_device random;
    char name[64];
    std::snprintf(name, sizeof name, "vellomar-dry-run-%08x%08x.txt", random(), random());
    const std::string merged = platform::JoinPath(folder, name);
    session_.SetMergedFilePath(merged);
    const auto remove = [&] {
      if (platform::RemoveEntry(merged) == platform::RemoveResult::kFailed) {
        Err("could not remove " + merged);
      }
    };
    const session::MergeResult result = session_.MergeTickedEntries();
    if (result != session::MergeResult::kMerged || !session_.Information().skipped.empty()) {
      Err(view::StatusText(session_.Information()));
      remove();
      return kUsage;
    }
    const install::Sameness same =
        install::CompareApartFromCreated(merged, session_.HostsFilePath());
    const auto changes = install::CompareSections(merged, session_.HostsFilePath(), kListedNames);
    remove();
    if (same == install::Sameness::kUnknown || !changes) {
      Err("cannot read " + session_.HostsFilePath() + " or the merged file through");
      return kUsage;
    }
    for (const install::SectionChange& change : *changes) {
      Out((change.source.empty() ? std::string("(header)") : change.source) + ": +" +
          std::to_string(change.added) + " -" + std::to_string(change.removed) + "\n");
      const auto list = [](const std::vector<std::string>& names, std::uint64_t count,
                           const char* sign, const char* what) {
        for (const auto& listed : names) Out(std::string("  ") + sign + " " + listed + "\n");
        if (count > names.size()) {
          Out("  ... and " + std::to_string(count - names.size()) + " more " + what + "\n");
        }
      };
      list(change.added_names, change.added, "+", "added");
      list(change.removed_names, change.removed, "-", "removed");
    }
    if (same == install::Sameness::kSame) {
      Out("HOSTS is up to date\n");
      return kOk;
    }
    Out("HOSTS would change\n");
    return kFailed;
  }

  int Install(const std::vector<std::string>& operands) {
    if (operands.size() > 1) return Usage("install takes one file at most");
    if (!operands.empty()) session_.SetMergedFilePath(operands.front());
    const std::string& file = session_.MergedFilePath();
    // Opened here only to say what is wrong with it; the install reads it, and refuses one that
    // holds NUL bytes.
    platform::ReadStatus read;
    const platform::InputFile opened =
        support::OpenForReading(file, support::InstallReadOptions(), read);
    if (read != platform::ReadStatus::kOk) {
      Err("cannot read " + file + ": " + std::string(view::ReadFailureText(read)));
      return kUsage;
    }
    if (opened.Facts().size == 0) {
      Err(file + " is empty; an empty hosts file is never installed");
      return kUsage;
    }
    if (!NeedHosts()) return kUsage;
    return InstallMerged();
  }

  // False, said on stderr, when writing the system's own hosts file cannot work: no root and no
  // way to ask for the administrator's password. Nothing is tried then.
  bool CanWriteSystemHosts() {
    const session::Environment& env = session_.env();
    const bool system_hosts =
        platform::FirstExisting(env.hosts_candidates) == session_.HostsFilePath();
    if (!system_hosts || (env.is_admin && env.is_admin()) || !env.privileged_install.empty()) {
      return true;
    }
    Err("writing " + session_.HostsFilePath() +
        " needs root: run this as root (sudo), or install pkexec (Debian package pkexec) to be "
        "asked for an administrator's password");
    return false;
  }

  // Says why an install did not happen, for the results that come before any verdict.
  bool RefusedBeforeAnyWrite() {
    switch (session_.LastInstall()) {
      case install::HostUpdateOutcome::Result::kNotAuthorized:
        Err(view::RefusalText(session_.LastRefusal()) + ": HOSTS not written");
        return true;
      case install::HostUpdateOutcome::Result::kBusy:
        Err("another install of HOSTS did not end within " +
            std::to_string(install::kInstallLockWaitMs / 1000) + " s: HOSTS not written");
        return true;
      case install::HostUpdateOutcome::Result::kNotRead:  // the log said why
        Err("HOSTS not written");
        return true;
      case install::HostUpdateOutcome::Result::kOwnEntriesKept:
        Err(session_.HostsFilePath() +
            " was not written by Vellomar and holds entries of your own that the new file "
            "lacks:\n" +
            view::OwnEntriesList(session_.OwnEntriesAtStake()) +
            "Add them to the header entry to keep them, or install anyway with --force (the "
            "backup keeps them): HOSTS not written");
        return true;
      default:
        return false;
    }
  }

  int InstallMerged() {
    if (!CanWriteSystemHosts()) return kFailed;
    const std::vector<std::string> logged =
        session_.InstallFile(session_.MergedFilePath(), options_.force);
    for (const auto& text : logged) Err(text);
    if (RefusedBeforeAnyWrite()) return kFailed;
    // The verdict reads both versions again. The flush runs here rather than inside it, so that
    // its failure can be told.
    const session::Verdict verdict = session_.JudgeInstall(false);
    if (!session_.MissingHostName().empty()) {
      Err("warning: " + view::HostNameMissingText(session_.MissingHostName()));
    }
    if (verdict != session::Verdict::kInstalled ||
        session_.LastInstall() == install::HostUpdateOutcome::Result::kDamaged) {
      Err(view::StatusText(session_.Information()));
      return kFailed;
    }
    Out(view::StatusText(session_.Information()) + "\n");
    if (options_.flush) return FlushAfterInstall();
    return kOk;
  }

  // The install took effect: a system without a resolver cache has nothing to flush, which is
  // said but fails nothing.
  int FlushAfterInstall() {
    if (session_.ResolverToolPath().empty()) {
      Err("warning: no resolver tool found: the resolver cache was not flushed");
      return kOk;
    }
    if (session_.FlushResolverCache()) {
      Out("Flushed the resolver cache\n");
      return kOk;
    }
    const auto* waiting = dynamic_cast<const WaitingLauncher*>(&launcher_);
    if (waiting != nullptr && waiting->last.started && !waiting->last.timed_out &&
        dns::SaysNoCacheService(waiting->last.error_output)) {
      Err("warning: " + session_.ResolverToolPath() +
          " says no resolver cache service runs: there is no cache to flush");
      return kOk;
    }
    Err("the cache flush failed: " + Described(session_.ResolverToolPath()));
    return kFailed;
  }

  int Status() {
    session_.RefreshVersions(session::Sides::kBoth);
    int result = session_.VersionsMatch() ? kOk : kFailed;
    const auto block = [&](const char* label, const std::string& path, const std::string& updated,
                           const std::string& created) {
      Out(std::string(label) + ": " + path + "\n");
      if (!catalogue::IsReadableForReport(path)) {
        Out("  (cannot be read)\n");
        Err(path.empty() ? std::string("no hosts file found (use --hosts FILE)")
                         : "cannot read " + path + " (missing, unreadable or under " +
                               std::to_string(catalogue::kMinReportBytes) +
                               " bytes: no dated lines to compare)");
        result = kUsage;
        return;
      }
      Out("  Updated: " + updated + "\n  Created: " + created + "\n");
    };
    block("Installed", session_.HostsFilePath(), session_.CurrentUpdated(),
          session_.CurrentCreated());
    block("Merged", session_.MergedFilePath(), session_.MergedUpdated(), session_.MergedCreated());
    if (result == kOk) Out("The installed file is the merged file.\n");
    if (result == kFailed) Out("The installed file is not the merged file.\n");
    return result;
  }

  int Restore() {
    if (!NeedHosts() || !CanWriteSystemHosts()) return kUsage;
    std::vector<std::string> logged;
    bool restored = false;
    if (!options_.original) {
      restored = session_.RestoreBackup(logged);
    } else {
      const install::RestoreOriginalResult result = session_.RestoreOriginal(logged);
      if (result == install::RestoreOriginalResult::kAlreadyInPlace) {
        Out(session_.HostsFilePath() +
            " already holds the hosts file Vellomar first replaced: nothing was changed\n");
        return kOk;
      }
      restored = result == install::RestoreOriginalResult::kRestored;
    }
    for (const auto& text : logged) Err(text);
    if (RefusedBeforeAnyWrite() || !restored) return kFailed;
    Out("Restored " + session_.HostsFilePath() +
        (options_.original ? " as it was before Vellomar first wrote it\n" : " from its backup\n"));
    return kOk;
  }

  bool NeedResolver() {
    if (!session_.ResolverToolPath().empty()) return true;
    Err("no resolver tool found: install systemd-resolved (which brings resolvectl), or name "
        "one with --resolver FILE");
    return false;
  }

  int Flush() {
    if (!NeedResolver()) return kUsage;
    if (session_.FlushResolverCache()) {
      Out("Flushed the resolver cache\n");
      return kOk;
    }
    Err("the cache flush failed: " + Described(session_.ResolverToolPath()));
    return kFailed;
  }

  std::string Described(const std::string& program) const {
    const auto* waiting = dynamic_cast<const WaitingLauncher*>(&launcher_);
    if (waiting == nullptr || !waiting->last.started) return program + " could not be run";
    if (waiting->last.timed_out) return program + " did not end in time";
    return program + " ended with status " + std::to_string(waiting->last.exit_code);
  }

  // Writes the merged file (or --from FILE) in a resolver's format to --output FILE, whole or
  // not at all, or to stdout; then, with --reload, has the resolver read it again.
  int Export() {
    if (!options_.format) return Usage("export needs --format unbound, dnsmasq, rpz or domains");
    const auto format = exports::FormatNamed(*options_.format);
    if (!format) {
      return Usage("unknown format " + *options_.format + " (unbound, dnsmasq, rpz or domains)");
    }
    if (options_.reload) {
      if (!options_.output)
        return Usage("--reload needs --output FILE, the file the resolver reads");
      if (session_.env().os == platform::OsFamily::kWindows) {
        return Usage("--reload is not available on Windows");
      }
      if (*format == exports::Format::kDomains) {
        return Usage("--reload: no resolver reads the domains format by itself");
      }
    }
    const std::string input = options_.from ? *options_.from : session_.MergedFilePath();
    if (!Reachable(input)) return kUsage;
    platform::ReadStatus read;
    const exports::AllowList allow = exports::AllowList::Load(session_.SourceFolder(), read);
    if (read != platform::ReadStatus::kOk) {
      Err("cannot read " + platform::JoinPath(session_.SourceFolder(), "allow.txt") + ": " +
          std::string(view::ReadFailureText(read)));
      return kUsage;
    }
    exports::HostsMeaning meaning(&allow);
    read = exports::ReadHostsFile(input, meaning);
    if (read != platform::ReadStatus::kOk) {
      Err("cannot read " + input + ": " + std::string(view::ReadFailureText(read)) +
          (read == platform::ReadStatus::kTooLarge
               ? " (at most " + std::to_string(exports::HostsMeaning::kMaxNames) + " names)"
               : std::string()));
      return kUsage;
    }
    if (meaning.LeftOut() > 0) {
      std::string examples;
      for (const auto& name : meaning.LeftOutExamples()) {
        examples += (examples.empty() ? "" : ", ") + name;
      }
      Err(std::to_string(meaning.LeftOut()) + " names left out: " + examples +
          (meaning.LeftOut() > meaning.LeftOutExamples().size() ? ", ..." : "") +
          " (not names a resolver takes)");
    }
    exports::ExportOptions export_options;
    export_options.format = *format;
    export_options.subdomains = options_.subdomains;
    export_options.serial = static_cast<std::uint32_t>(std::time(nullptr));
    if (!options_.output) {
      const bool written = exports::WriteExport(meaning, export_options, [](std::string_view text) {
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
      });
      if (!written || std::fflush(stdout) != 0) {
        Err("could not write the export to the standard output");
        return kFailed;
      }
      return kOk;
    }
    const std::string& output = *options_.output;
    if (!Reachable(output)) return kUsage;
    if (!platform::FolderExists(FolderOf(output))) {
      Err("no folder for " + output);
      return kUsage;
    }
    const auto file = platform::CreateReplacementFile(output, output);
    if (!file) {
      Err("cannot write " + output + ": its folder takes no new file");
      return kFailed;
    }
    const bool written = exports::WriteExport(
        meaning, export_options, [&](std::string_view text) { return file->Write(text); });
    if (!written || file->Commit() != platform::ReplacementFile::CommitResult::kReplaced) {
      Err("could not write " + output + ": it was left as it was");
      return kFailed;
    }
    Out("Exported " + *options_.format + " to " + output + "\n");
    if (!options_.reload) return kOk;
    if (*format != exports::Format::kDnsmasq) return Reload(*format);
    bool local_data = false;
    meaning.ForEach([&](std::string_view, const exports::HostsMeaning::Name& name) {
      local_data = local_data || !name.blocked;
    });
    if (local_data) {
      Err("--reload: " + output +
          " holds names with addresses of their own (host-record=), which dnsmasq takes only "
          "from a conf-file, read when it starts: restart dnsmasq");
      return kFailed;
    }
    return HangUpDnsmasq(output);
  }

  // dnsmasq reads a servers-file again on SIGHUP (a conf-file only when it starts): the signal
  // goes to the process its pid file names, when that process is dnsmasq.
  int HangUpDnsmasq(const std::string& output) {
    const std::string pid_file = kDnsmasqPidFile;
    if (!Reachable(pid_file)) return kFailed;
    platform::ReadStatus read;
    platform::InputFile opened = support::OpenForReading(pid_file, {}, read);
    std::string text;
    if (read == platform::ReadStatus::kOk && opened.Facts().size > kMaxPidFile) {
      read = platform::ReadStatus::kTooLarge;
    }
    if (read == platform::ReadStatus::kOk) read = opened.ReadAll(text);
    if (read != platform::ReadStatus::kOk) {
      Err("cannot read " + pid_file + ": " + std::string(view::ReadFailureText(read)) +
          ": dnsmasq was not reloaded");
      return kFailed;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    const auto pid = Count(text, INT32_MAX);
    if (!pid) {
      Err(pid_file + " holds no process id: dnsmasq was not reloaded");
      return kFailed;
    }
    const std::string process = "process " + std::to_string(*pid);
    switch (platform::HangUpProgram(*pid, "dnsmasq")) {
      case platform::HangUpResult::kSent:
        Out("Sent SIGHUP to dnsmasq (" + process + "): it reads " + output +
            " again when it takes it as servers-file=, not as conf-file=\n");
        return kOk;
      case platform::HangUpResult::kNoProcess:
        Err("no " + process + " runs (" + pid_file + "): dnsmasq was not reloaded");
        break;
      case platform::HangUpResult::kNotThatProgram:
        Err(process + " (" + pid_file + ") is not dnsmasq: it was not signalled");
        break;
      case platform::HangUpResult::kRefused:
        Err("the system refused SIGHUP to dnsmasq (" + process + "): it was not reloaded");
        break;
      case platform::HangUpResult::kUnsupported:
        Err("--reload is not available on this system");
        break;
    }
    return kFailed;
  }

  // Has the resolver read its files again through its own control program: kOk when it says it
  // did, kFailed (said) otherwise.
  int Reload(exports::Format format) {
    const bool unbound = format == exports::Format::kUnbound;
    const std::string tool = unbound ? "unbound-control" : "rndc";
    std::vector<std::string> candidates;
    for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
      candidates.push_back(platform::JoinPath(folder, tool));
    }
    const std::string program = platform::FirstExisting(candidates);
    if (program.empty()) {
      Err(tool + " is not in /usr/sbin, /usr/bin, /sbin or /bin: the resolver was not reloaded");
      return kFailed;
    }
    platform::RunOptions run;
    run.timeout_ms = kProgramWaitMs;
    run.collect_errors = true;
    run.collect_output = true;
    run.max_output = kMaxReloadOutput;
    const platform::RunResult result = platform::RunAndWait({program, "reload"}, run);
    if (!result.started || result.timed_out || result.exit_code != 0) {
      std::fwrite(result.error_output.data(), 1, result.error_output.size(), stderr);
      std::fwrite(result.output.data(), 1, result.output.size(), stderr);
      Err("the reload failed: " + program +
          (!result.started    ? " could not be run"
           : result.timed_out ? " did not end in time"
                              : " reload ended with status " + std::to_string(result.exit_code)));
      return kFailed;
    }
    Out(unbound ? "Reloaded unbound\n" : "Reloaded named\n");
    return kOk;
  }

  int Dns(const std::vector<std::string>& operands) {
    if (operands.size() != 1) return Usage("dns needs one of: flush, show");
    if (operands.front() == "flush") return Flush();
    if (operands.front() != "show") return Usage("unknown dns command " + operands.front());
    if (!NeedResolver()) return kUsage;
    platform::RunOptions options;
    options.timeout_ms = kProgramWaitMs;
    options.collect_output = true;
    options.max_output = kMaxListing;
    const auto result = platform::RunAndWait(
        dns::ListCommand(session_.ResolverToolPath(), session_.env().os), options);
    if (!result.started || result.timed_out || result.exit_code != 0) {
      Err("the cache listing failed: " + session_.ResolverToolPath() +
          (!result.started    ? " could not be run"
           : result.timed_out ? " did not end in time"
                              : " ended with status " + std::to_string(result.exit_code) +
                                    " (resolvectl show-cache needs systemd 254 or later)"));
      return kFailed;
    }
    const std::string report = dns::BuildReport(result.output, session_.env().line_end);
    if (report.empty()) {
      Err("the resolver tool listed no cache entries");
      return kFailed;
    }
    Out(report);
    return kOk;
  }

  const Options& options_;
  platform::Launcher& launcher_;
  session::Session session_;
};

// Root's folder for --system: made and seeded when root names it first; anyone may read it once
// it is there. kOk, or why not (said).
int ChooseSystemFolder(const Options& options, session::Environment& env) {
  const std::string folder = env.system_folder;
  if (folder.empty()) {
    Err("--system: this system has no folder of root's for Vellomar; use --folder DIR");
    return kUsage;
  }
  if (!Reachable(folder)) return kUsage;
  const bool is_root = env.is_admin && env.is_admin();
  if (!is_root && !platform::FolderExists(folder)) {
    Err("--system: " + folder + " does not exist; run this as root once to make it");
    return kUsage;
  }
  env.folder_choice = platform::ChooseSystemFolder(folder, platform::ProgramFolder());
  env.program_folder = folder;
  if (env.folder_choice.problem == platform::FolderProblem::kCannotCreate ||
      env.folder_choice.problem == platform::FolderProblem::kUnsafe) {
    Err("--system: cannot make " + folder +
        (env.folder_choice.reason.empty() ? std::string() : ": " + env.folder_choice.reason));
    return kUsage;
  }
  // The machine's own entries go into the seeded header: from the hosts file named, if any.
  session::Environment seeding = env;
  if (options.hosts) seeding.hosts_candidates = {*options.hosts};
  (void)session::KeepOwnEntriesInSeededHeader(seeding);
  return kOk;
}

int Run(const std::vector<std::string>& args) {
  Options options;
  if (const auto problem = Parse(args, options)) return Usage(*problem);
  WaitingLauncher launcher;
  session::Environment env = session::SystemEnvironment(launcher);
  if (options.help) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (options.version) {
    Out("vellomar-cli " + session::VersionText(env) + "\n");
    return kOk;
  }
  if (options.words.empty()) return Usage("no command given");
  if (options.system) {
    if (!options.folder.empty()) return Usage("--system and --folder name two folders: give one");
    if (const int made = ChooseSystemFolder(options, env); made != kOk) return made;
  } else if (!options.folder.empty()) {
    if (!Reachable(options.folder)) return kUsage;
    if (!platform::FolderExists(options.folder)) {
      Err("no folder " + options.folder);
      return kUsage;
    }
    env.program_folder = options.folder;
    env.folder_choice = {options.folder, platform::FolderProblem::kNone, {}, {}, false};
  } else if (env.program_folder.empty()) {
    // Never the current folder in its place: that is where whoever started us chose to be.
    Err("cannot name the folder of this program (its path cannot be spelled in this system's "
        "code page); name it with --folder DIR");
    return kUsage;
  }
  env.clock = session::LocalDateTimeText;
  Commands commands(options, launcher, std::move(env));
  return commands.Run();
}

}  // namespace

int Main(const std::vector<std::string>& args) {
  // Out of memory (a caller's address-space limit, say): said, never taken for a file that
  // differs. An install that took effect has reported itself by then.
  try {
    return Run(args);
  } catch (const std::bad_alloc&) {
    Err("out of memory");
    return kFailed;
  }
}

}  // namespace vellomar::cli
