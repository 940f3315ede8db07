// Serves a block list of a million names from unbound and dnsmasq, as vellomar-cli export writes
// it, and from glibc's hosts-file lookup, side by side in one run:
//
//   export_bench [--names N] [--queries N] [--glibc-queries N] [--cli PATH] [--tmp DIR] [--keep]
//
// 1. A hosts file of N blocked names (default 1,000,000: the names of the lists in
//    ../shared/bench-data when it is there, the rest generated) and 100 names with addresses of
//    their own, in a private temporary folder.
// 2. vellomar-cli export --format unbound and --format dnsmasq of it: time and peak memory.
// 3. Each server started on 127.0.0.1 at a free port with no upstream (unbound refuses what its
//    local data does not answer; dnsmasq has no servers): its load time (from start until it
//    answers a name of the list) and its memory after the load (VmRSS and VmHWM of
//    /proc/PID/status).
// 4. Lookup latency over a raw UDP DNS client on loopback: --queries names (default 2000), half
//    from the list (each must answer 0.0.0.0), half not in it (each must not); the median of each
//    half and of all.
// 5. The same kind of lookups through glibc (getaddrinfo, IPv4) with the hosts file as
//    /etc/hosts: only as root, in a private mount namespace (the file and an nsswitch.conf of
//    "hosts: files" bind-mounted over the real ones inside it only; nothing outside changes).
//    Fewer queries (--glibc-queries, default 200): every lookup reads the whole file.
// Ratios are printed beside the absolute figures. Exit status 0, 1 when a run failed or answered
// wrongly (the figures are then not valid), 2 bad usage.
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::size_t names = 1000000;
  std::size_t queries = 2000;
  std::size_t glibc_queries = 200;
  std::string cli = VELLOMAR_CLI;
  std::string tmp;
  bool keep = false;
};

bool failed = false;
void Fail(const std::string& what) {
  std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  failed = true;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A started program: its pid, reaped by Wait or killed by Stop.
struct Process {
  pid_t pid = -1;
  Clock::time_point started;
};

Process Spawn(const std::vector<std::string>& argv, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  Process process;
  process.started = Clock::now();
  if (posix_spawn(&process.pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    process.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return process;
}

// Runs argv to its end: wall time in ms and peak resident memory in MiB; nullopt when it failed.
// Started by fork, not posix_spawn: a child that borrows this process's memory until its exec,
// as posix_spawn's does, has this process's peak counted as its own; a forked child only what
// this process holds at the fork.
std::optional<std::pair<double, double>> RunTimed(const std::vector<std::string>& argv,
                                                  const std::string& log) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  Process process;
  process.started = Clock::now();
  process.pid = fork();
  if (process.pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (process.pid < 0 || wait4(process.pid, &status, 0, &usage) != process.pid ||
      !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return std::make_pair(Ms(Clock::now() - process.started),
                        static_cast<double>(usage.ru_maxrss) / 1024.0);
}

void Stop(Process& process) {
  if (process.pid <= 0) return;
  kill(process.pid, SIGTERM);
  waitpid(process.pid, nullptr, 0);
  process.pid = -1;
}

// A UDP port on 127.0.0.1 that nothing holds now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// A DNS client over UDP to 127.0.0.1:port: one A query at a time.
class DnsClient {
 public:
  explicit DnsClient(int port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    timeval wait{0, 200000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~DnsClient() { close(fd_); }

  struct Answer {
    int rcode = -1;    // -1: no answer in time
    std::string ipv4;  // the first A record, dotted
    double ms = 0;
  };
  Answer Ask(const std::string& name) {
    std::string query = {static_cast<char>(++id_ >> 8),
                         static_cast<char>(id_ & 0xff),
                         1,
                         0,
                         0,
                         1,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0};  // RD, one question
    for (std::size_t start = 0; start <= name.size();) {
      const std::size_t dot = std::min(name.find('.', start), name.size());
      query += static_cast<char>(dot - start);
      query += name.substr(start, dot - start);
      start = dot + 1;
    }
    query += std::string("\0\0\1\0\1", 5);  // root, type A, class IN
    Answer answer;
    const auto begin = Clock::now();
    if (send(fd_, query.data(), query.size(), 0) != static_cast<ssize_t>(query.size())) {
      return answer;
    }
    unsigned char reply[1500];
    ssize_t got = 0;
    do {
      got = recv(fd_, reply, sizeof reply, 0);
    } while (got >= 12 && (reply[0] != static_cast<unsigned char>(query[0]) ||
                           reply[1] != static_cast<unsigned char>(query[1])));  // a late reply
    answer.ms = Ms(Clock::now() - begin);
    if (got < 12) return answer;
    answer.rcode = reply[3] & 0x0f;
    // The first answer record, after the question, if it is an A record.
    std::size_t at = query.size();
    if ((reply[6] << 8 | reply[7]) == 0 || static_cast<std::size_t>(got) < at + 16) return answer;
    if ((reply[at] & 0xc0) == 0xc0) at += 2;
    if (reply[at + 1] == 1 && reply[at + 9] == 4) {
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, reply + at + 10, text, sizeof text);
      answer.ipv4 = text;
    }
    return answer;
  }

 private:
  int fd_;
  std::uint16_t id_ = 0;
};

// A blocked name's answer: NXDOMAIN, or the null address.
bool Blocks(const DnsClient::Answer& answer) {
  return answer.rcode == 3 || answer.ipv4 == "0.0.0.0";
}

struct Server {
  std::string name;
  double export_ms = 0, export_mib = 0, load_ms = 0, rss_mib = 0, hwm_mib = 0;
  double in_ms = 0, out_ms = 0, all_ms = 0;
};

double StatusMib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return 0;
}

// Latency of `listed` (must be blocked) and `absent` names (must not), asked in turn.
void Measure(DnsClient& client, const std::vector<std::string>& listed,
             const std::vector<std::string>& absent, Server& server) {
  std::vector<double> in, out;
  for (std::size_t i = 0; i < listed.size() + absent.size(); ++i) {
    const bool blocked = i % 2 == 0;
    const std::string& name = blocked ? listed[i / 2] : absent[i / 2];
    const auto answer = client.Ask(name);
    if (answer.rcode < 0 || Blocks(answer) != blocked) {
      Fail(server.name + " answered " + name + " with rcode " + std::to_string(answer.rcode) + " " +
           answer.ipv4);
    }
    (blocked ? in : out).push_back(answer.ms);
  }
  server.in_ms = Median(in);
  server.out_ms = Median(out);
  in.insert(in.end(), out.begin(), out.end());
  server.all_ms = Median(in);
}

// Starts the server, waits until it answers `probe`, measures its memory and its lookups.
void Serve(const std::vector<std::string>& argv, const std::string& log, int port,
           const std::string& probe, const std::vector<std::string>& listed,
           const std::vector<std::string>& absent, Server& server) {
  Process process = Spawn(argv, log);
  DnsClient client(port);
  bool up = false;
  for (const auto limit = Clock::now() + std::chrono::minutes(10); !up && Clock::now() < limit;) {
    up = Blocks(client.Ask(probe));
    if (!up) {
      if (waitpid(process.pid, nullptr, WNOHANG) == process.pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  server.load_ms = Ms(Clock::now() - process.started);
  if (!up) {
    Fail(server.name + " did not answer (see " + log + ")");
    Stop(process);
    return;
  }
  server.rss_mib = StatusMib(process.pid, "VmRSS");
  server.hwm_mib = StatusMib(process.pid, "VmHWM");
  Measure(client, listed, absent, server);
  Stop(process);
}

// glibc's lookups in a private mount namespace, in a child: the medians (listed, absent, all)
// through a pipe; nullopt when it could not be set up.
std::optional<std::vector<double>> GlibcLookups(const std::string& hosts, const std::string& dir,
                                                const std::vector<std::string>& listed,
                                                const std::vector<std::string>& absent) {
  const std::string nsswitch = dir + "/nsswitch.conf";
  std::ofstream(nsswitch) << "hosts: files\n";
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    std::vector<double> medians = {-1, -1, -1};
    // Private first: nothing mounted below may reach the system's namespace.
    if (unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) == 0) {
      std::vector<double> in, out;
      bool right = true;
      for (std::size_t i = 0; i < listed.size() + absent.size(); ++i) {
        const bool blocked = i % 2 == 0;
        const std::string& name = blocked ? listed[i / 2] : absent[i / 2];
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const auto begin = Clock::now();
        const int result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
        (blocked ? in : out).push_back(Ms(Clock::now() - begin));
        right = right && (result == 0) == blocked;
        if (found != nullptr) freeaddrinfo(found);
      }
      if (right) {
        medians = {Median(in), Median(out), 0};
        in.insert(in.end(), out.begin(), out.end());
        medians[2] = Median(in);
      } else {
        medians = {-2, -2, -2};
      }
    }
    (void)!write(pipe_fds[1], medians.data(), sizeof(double) * 3);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::vector<double> medians(3, -1);
  const bool read_all = read(pipe_fds[0], medians.data(), sizeof(double) * 3) ==
                        static_cast<ssize_t>(sizeof(double) * 3);
  close(pipe_fds[0]);
  waitpid(child, nullptr, 0);
  if (!read_all || medians[0] == -1) return std::nullopt;
  if (medians[0] == -2) Fail("glibc answered a name wrongly");
  return medians;
}

std::optional<Options> Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--keep") {
      options.keep = true;
    } else if (has_value && arg == "--names") {
      options.names = std::stoul(argv[++i]);
    } else if (has_value && arg == "--queries") {
      options.queries = std::stoul(argv[++i]);
    } else if (has_value && arg == "--glibc-queries") {
      options.glibc_queries = std::stoul(argv[++i]);
    } else if (has_value && arg == "--cli") {
      options.cli = argv[++i];
    } else if (has_value && arg == "--tmp") {
      options.tmp = argv[++i];
    } else {
      return std::nullopt;
    }
  }
  if (options.names < options.queries || options.queries < 2) return std::nullopt;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = Parse(argc, argv);
  if (!parsed) {
    std::fprintf(stderr,
                 "usage: export_bench [--names N] [--queries N] [--glibc-queries N] [--cli PATH] "
                 "[--tmp DIR] [--keep]\n");
    return 2;
  }
  const Options& options = *parsed;
  for (const char* tool : {"/usr/sbin/unbound", "/usr/sbin/dnsmasq"}) {
    if (access(tool, X_OK) != 0) {
      std::fprintf(stderr, "%s is missing (apt-get install unbound dnsmasq-base)\n", tool);
      return 1;
    }
  }
  std::string base = options.tmp.empty() ? fs::temp_directory_path().string() : options.tmp;
  std::string dir = base + "/export-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 1;
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

  // The names: the sample lists first, then generated ones.
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  const fs::path data = VELLOMAR_BENCH_DATA;
  if (fs::is_directory(data)) {
    for (const auto& entry : fs::directory_iterator(data)) {
      std::ifstream list(entry.path());
      for (std::string line; std::getline(list, line) && names.size() < options.names;) {
        if (line.rfind("0.0.0.0 ", 0) != 0) continue;
        std::string name = line.substr(8, line.find_first_of(" \t\r#", 8) - 8);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.") ==
                std::string::npos &&
            name.find("..") == std::string::npos && name.front() != '.' && name.back() != '.' &&
            seen.insert(name).second) {
          names.push_back(name);
        }
      }
    }
  } else {
    std::printf("(no sample lists at %s: every name generated)\n", data.c_str());
  }
  const std::size_t sampled = names.size();
  std::mt19937_64 random(20261207);
  static const char* kWords[] = {"ads", "track", "pixel",  "metrics",
                                 "cdn", "stat",  "beacon", "tag"};
  for (std::size_t i = 0; names.size() < options.names; ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "%s%zu-%04x.%s-%zu.example", kWords[i % 8], i,
                  static_cast<unsigned>(random() & 0xffff), kWords[(i / 8) % 8], i % 997);
    if (seen.insert(name).second) names.emplace_back(name);
  }
  const std::string hosts = dir + "/hosts";
  {
    std::ofstream out(hosts);
    out << "127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n";
    for (const auto& name : names) out << "0.0.0.0 " << name << '\n';
    for (int i = 0; i < 100; ++i) out << "10.9.0." << i + 1 << " host" << i << ".lan.example\n";
  }
  std::vector<std::string> listed, absent;
  std::sample(names.begin(), names.end(), std::back_inserter(listed), options.queries / 2, random);
  std::shuffle(listed.begin(), listed.end(), random);
  for (std::size_t i = 0; i < options.queries / 2; ++i) {
    absent.push_back("absent" + std::to_string(i) + ".nowhere-" + std::to_string(i % 31) + ".com");
  }
  std::printf("%zu blocked names (%zu from the sample lists), %zu + %zu queries\n", names.size(),
              sampled, listed.size(), absent.size());
  // What this process holds at a fork counts into the peak of the program forked: it keeps
  // only the names it asks for.
  std::vector<std::string>().swap(names);
  std::unordered_set<std::string>().swap(seen);
  malloc_trim(0);

  std::vector<Server> servers = {{"unbound"}, {"dnsmasq"}};
  for (Server& server : servers) {
    const std::string out = dir + "/" + server.name + ".conf";
    const auto timed =
        RunTimed({options.cli, "export", "--format", server.name, "--from", hosts, "--output", out},
                 dir + "/" + server.name + "-export.log");
    if (!timed) {
      Fail("vellomar-cli export --format " + server.name);
      continue;
    }
    std::tie(server.export_ms, server.export_mib) = *timed;
    const int port = FreePort();
    const std::string log = dir + "/" + server.name + ".log";
    if (server.name == "unbound") {
      std::ofstream(dir + "/unbound-main.conf")
          << "server:\n  interface: 127.0.0.1\n  port: " << port
          << "\n  do-daemonize: no\n  username: \"\"\n  chroot: \"\"\n  directory: \"" << dir
          << "\"\n  pidfile: \"\"\n  use-syslog: no\n  num-threads: 1\n"
             "  module-config: \"iterator\"\n  local-zone: \".\" refuse\n  include: \""
          << out << "\"\n";
      Serve({"/usr/sbin/unbound", "-d", "-c", dir + "/unbound-main.conf"}, log, port,
            listed.front(), listed, absent, server);
    } else {
      std::vector<std::string> argv_dnsmasq = {"/usr/sbin/dnsmasq",
                                               "--no-daemon",
                                               "--no-resolv",
                                               "--no-hosts",
                                               "--port",
                                               std::to_string(port),
                                               "--listen-address",
                                               "127.0.0.1",
                                               "--bind-interfaces",
                                               "--conf-file=" + out,
                                               "--pid-file=" + dir + "/dnsmasq.pid"};
      if (geteuid() == 0) argv_dnsmasq.push_back("--user=root");
      Serve(argv_dnsmasq, log, port, listed.front(), listed, absent, server);
    }
  }

  std::optional<std::vector<double>> glibc;
  std::vector<std::string> glibc_listed(
      listed.begin(), listed.begin() + std::min(listed.size(), options.glibc_queries / 2));
  std::vector<std::string> glibc_absent(absent.begin(), absent.begin() + glibc_listed.size());
  if (geteuid() != 0) {
    std::printf("glibc: skipped (needs root for a private mount namespace)\n");
  } else if (access("/run/nscd/socket", F_OK) == 0) {
    std::printf("glibc: skipped (nscd runs: its cache would answer, not the hosts file)\n");
  } else {
    glibc = GlibcLookups(hosts, dir, glibc_listed, glibc_absent);
    if (!glibc) Fail("glibc: the private mount namespace could not be set up");
  }

  std::printf("\n%-8s %10s %10s %10s %9s %9s %10s %10s %10s\n", "", "export ms", "export MiB",
              "load ms", "VmRSS MiB", "VmHWM MiB", "listed ms", "absent ms", "median ms");
  for (const Server& s : servers) {
    std::printf("%-8s %10.0f %10.1f %10.0f %9.1f %9.1f %10.4f %10.4f %10.4f\n", s.name.c_str(),
                s.export_ms, s.export_mib, s.load_ms, s.rss_mib, s.hwm_mib, s.in_ms, s.out_ms,
                s.all_ms);
  }
  if (glibc) {
    std::printf("%-8s %10s %10s %10s %9s %9s %10.4f %10.4f %10.4f  (%zu + %zu lookups)\n", "glibc",
                "-", "-", "-", "-", "-", (*glibc)[0], (*glibc)[1], (*glibc)[2], glibc_listed.size(),
                glibc_absent.size());
  }
  const Server& u = servers[0];
  const Server& d = servers[1];
  std::printf(
      "\nratios: dnsmasq/unbound  export time %.2f, load time %.2f, VmHWM %.2f, lookup %.2f\n",
      d.export_ms / u.export_ms, d.load_ms / u.load_ms, d.hwm_mib / u.hwm_mib, d.all_ms / u.all_ms);
  if (glibc) {
    std::printf(
        "        glibc/unbound lookup %.0f (listed %.0f, absent %.0f); glibc/dnsmasq lookup %.0f\n",
        (*glibc)[2] / u.all_ms, (*glibc)[0] / u.in_ms, (*glibc)[1] / u.out_ms,
        (*glibc)[2] / d.all_ms);
  }
  if (options.keep) {
    std::printf("kept: %s\n", dir.c_str());
  } else {
    fs::remove_all(dir);
  }
  if (failed) std::printf("INVALID: a run failed or answered wrongly\n");
  return failed ? 1 : 0;
}
