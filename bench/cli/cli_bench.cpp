// Times vellomar-cli's merge and install as whole processes against the physical floor of the
// same work, side by side in one run, and prints the ratios, the peak memory and the load.
//
//   cli_bench [--rounds N] [--sizes LIST] [--only merge|install] [--quick] [--crlf]
//             [--sources N] [--data DIR] [--tmp DIR] [--cli PATH] [--keep]
//
// For each size (lines in all, default 100k,1M,5M) a private folder under the temporary folder
// gets a corpus: generated block lists of unequal size plus the sample lists of the data folder
// (../shared/bench-data beside the source tree) when it is there, and a header. Every file is
// flushed to disk before any timing, so that no contender pays for writing back the corpus.
//
// Two comparisons, each with two contenders that do the same work on the same files:
//   merge    vellomar-cli --folder DIR --hosts OLD merge --output OUT HEADER SOURCES...
//            against  sh -c 'cat SOURCES > OUT && sync OUT'  (write the same bytes, flush them)
//   install  vellomar-cli --folder DIR --hosts TMP/hosts install TMP/M_Hosts.txt
//            against the shell's safe replacement: cp hosts hosts.ZRB; cp new hosts.new;
//            sync (fsync) both; mv hosts.new hosts; sync (fsync) the folder.
// The hosts file of the install is a file in the private folder, reset before every run to an
// earlier merged file (the same sources merged with --mode 127.0.0.1, as a previous install
// would have left); nothing outside the private folder is ever written.
//
// Each comparison runs one warm-up round (page cache, code paths; not counted) and then
// --rounds paired rounds. A round runs both contenders once, one after the other, in an order
// that alternates from round to round; the figure of a round is the ratio of the two times of
// that round, and the figure reported is the median of those ratios, so that a burst of load
// on the machine weighs on both halves of the ratio alike. Every contender runs as a process
// of its own, started by posix_spawn and reaped by wait4: its time is from start to exit, its
// CPU time and peak resident memory are those wait4 reports (its children included).
//
// Every run is checked, so that a broken contender cannot look fast: exit status 0; the merged
// file holds exactly the lines expected (every line of the header and the sources, plus four
// per source: start marker, end marker, separator and empty line) and as many bytes as in the
// warm-up; the floor's file as many bytes as its inputs; after an install, the hosts file holds
// the bytes of the merged file and the backup those of the hosts file it replaced.
//
// Exit status: 0 every run valid and every goal met, 3 every run valid but a goal missed,
// 1 a run failed or gave a wrong result (the figures are then not valid), 2 bad usage.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kMergeGoal = 1.2;    // vellomar-cli merge / (cat + fsync), at 1M lines and more
constexpr double kInstallGoal = 1.5;  // vellomar-cli install / safe shell replacement, likewise
constexpr double kMemoryGoalMib = 32; // peak resident memory of either, at 5M lines and more
constexpr std::size_t kGoalLines = 1000000;
constexpr std::size_t kMemoryGoalLines = 5000000;
constexpr long kTmpfsMagic = 0x01021994;

struct Options {
  int rounds = 7;
  std::vector<std::size_t> sizes = {100000, 1000000, 5000000};
  bool merge = true;
  bool install = true;
  bool crlf = false;
  std::size_t sources = 8;
  std::string data = VELLOMAR_BENCH_DATA;
  std::string tmp;
  std::string cli = VELLOMAR_CLI;
  bool keep = false;
};

[[noreturn]] void UsageExit(const char* program, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
  std::fprintf(stderr,
               "usage: %s [--rounds N] [--sizes LIST] [--only merge|install] [--quick] [--crlf]\n"
               "          [--sources N] [--data DIR] [--tmp DIR] [--cli PATH] [--keep]\n"
               "  --rounds N     paired rounds after the warm-up (default 7)\n"
               "  --sizes LIST   lines in all, comma separated, k and M allowed "
               "(default 100k,1M,5M)\n"
               "  --only WHAT    merge or install alone\n"
               "  --quick        3 rounds at 100k and 1M lines\n"
               "  --crlf         sources and merged file with CR LF line ends\n"
               "  --sources N    generated sources (default 8), besides the sample lists\n"
               "  --data DIR     the sample lists (default %s)\n"
               "  --tmp DIR      where the private folder goes (default the temporary folder)\n"
               "  --cli PATH     the vellomar-cli to time (default %s)\n"
               "  --keep         keep the private folders\n",
               program, VELLOMAR_BENCH_DATA, VELLOMAR_CLI);
  std::exit(2);
}

std::optional<std::size_t> ParseCount(std::string text) {
  std::size_t scale = 1;
  if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) scale = 1000;
  if (!text.empty() && (text.back() == 'm' || text.back() == 'M')) scale = 1000000;
  if (scale != 1) text.pop_back();
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  const std::size_t value = std::strtoull(text.c_str(), nullptr, 10) * scale;
  if (value == 0) return {};
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bool rounds_given = false;
  bool sizes_given = false;
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) UsageExit(argv[0], arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--rounds") {
      const auto n = ParseCount(value());
      if (!n || *n > 1000) UsageExit(argv[0], "--rounds takes a number from 1 to 1000");
      options.rounds = static_cast<int>(*n);
      rounds_given = true;
    } else if (arg == "--sizes") {
      options.sizes.clear();
      std::string list = value();
      for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const auto n = ParseCount(list.substr(start, comma - start));
        if (!n) UsageExit(argv[0], "bad size in --sizes: " + list);
        options.sizes.push_back(*n);
        start = comma + 1;
      }
      sizes_given = true;
    } else if (arg == "--only") {
      const std::string what = value();
      if (what != "merge" && what != "install") UsageExit(argv[0], "--only merge or install");
      options.merge = what == "merge";
      options.install = what == "install";
    } else if (arg == "--quick") {
      quick = true;
    } else if (arg == "--crlf") {
      options.crlf = true;
    } else if (arg == "--sources") {
      const auto n = ParseCount(value());
      if (!n || *n > 100) UsageExit(argv[0], "--sources takes a number from 1 to 100");
      options.sources = *n;
    } else if (arg == "--data") {
      options.data = value();
    } else if (arg == "--tmp") {
      options.tmp = value();
    } else if (arg == "--cli") {
      options.cli = value();
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg == "--help" || arg == "-h") {
      UsageExit(argv[0], "");
    } else {
      UsageExit(argv[0], "unknown option " + arg);
    }
  }
  if (quick && !rounds_given) options.rounds = 3;
  if (quick && !sizes_given) options.sizes = {100000, 1000000};
  return options;
}

double Mib(double bytes) { return bytes / (1024.0 * 1024.0); }

std::string Grouped(std::size_t n) {
  const std::string digits = std::to_string(n);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string text;
  std::getline(in, text);
  return text.empty() ? "(unknown)" : text;
}

// ---- Files ---------------------------------------------------------------------------------

// Flushes a file or folder to disk. False when it cannot be opened or flushed.
bool FsyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Flushes everything written on the file system of `folder`, so that a run starts with no
// write-back of an earlier one pending.
void SettleFileSystem(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
}

// Writes a file through one buffer, flushes it to disk on Close.
class OutFile {
 public:
  explicit OutFile(const std::string& path)
      : path_(path), fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
  ~OutFile() { Close(); }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  std::string& text() { return text_; }
  void MaybeFlush() {
    if (text_.size() > (1u << 20)) Flush();
  }
  bool Close() {
    if (fd_ < 0) return ok_;
    Flush();
    ok_ = ok_ && ::fsync(fd_) == 0;
    ok_ = ::close(fd_) == 0 && ok_;
    fd_ = -1;
    return ok_;
  }

 private:
  void Flush() {
    std::size_t done = 0;
    while (ok_ && fd_ >= 0 && done < text_.size()) {
      const ssize_t n = ::write(fd_, text_.data() + done, text_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok_ = false;
      if (n > 0) done += static_cast<std::size_t>(n);
    }
    ok_ = ok_ && fd_ >= 0;
    text_.clear();
  }
  std::string path_;
  int fd_;
  bool ok_ = true;
  std::string text_;
};

// The line ends (LF, alone or after CR) in a file.
std::optional<std::size_t> CountLineEnds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<char> buffer(1 << 17);
  std::size_t lines = 0;
  bool ok = true;
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    const auto size = static_cast<std::size_t>(n);
    lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + size, '\n'));
  }
  ::close(fd);
  if (!ok) return {};
  return lines;
}

// True when both files can be read, have the same size and hold the same bytes from offset
// `from` on; compared in blocks.
bool SameBytes(const std::string& a, const std::string& b, std::uintmax_t from = 0) {
  std::error_code ec1, ec2;
  if (fs::file_size(a, ec1) != fs::file_size(b, ec2) || ec1 || ec2) return false;
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  in_a.seekg(static_cast<std::streamoff>(from));
  in_b.seekg(static_cast<std::streamoff>(from));
  if (!in_a || !in_b) return false;
  std::vector<char> block_a(1 << 17), block_b(1 << 17);
  while (true) {
    in_a.read(block_a.data(), static_cast<std::streamsize>(block_a.size()));
    in_b.read(block_b.data(), static_cast<std::streamsize>(block_b.size()));
    const std::streamsize got = in_a.gcount();
    if (got != in_b.gcount()) return false;
    if (got == 0) return true;
    if (std::memcmp(block_a.data(), block_b.data(), static_cast<std::size_t>(got)) != 0) {
      return false;
    }
  }
}

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

// Copies a file and flushes the copy to disk.
bool CopyFlushed(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove(to, ec);
  if (!fs::copy_file(from, to, ec) || ec) return false;
  return FsyncPath(to);
}

// Removes everything in a folder, leaving the folder.
void EmptyFolder(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
}

// ---- Corpus --------------------------------------------------------------------------------

// A host name of the kind block lists hold: a few labels and a common ending.
void AppendHostName(std::mt19937_64& random, std::string& out) {
  static constexpr const char* kSyllables[] = {
      "ad",    "tr",    "ack",  "met",  "ric", "s",   "cdn", "pix", "el",    "stat",
      "log",   "click", "bid",  "ser",  "ve",  "mob", "i",   "tag", "sync",  "beacon",
      "view",  "media", "data", "x",    "7",   "24",  "go",  "net", "cloud", "img",
      "track", "an",    "aly",  "tics", "pop", "up",  "0",   "1",   "k"};
  static constexpr const char* kEndings[] = {".com", ".net",  ".org", ".io", ".co.uk", ".de",
                                             ".ru",  ".info", ".xyz", ".cn", ".fr",    ".com.br"};
  const int labels = 1 + static_cast<int>(random() % 3) + (random() % 4 == 0 ? 1 : 0);
  for (int label = 0; label < labels; ++label) {
    if (label > 0) out += '.';
    const int parts = 1 + static_cast<int>(random() % 4);
    for (int part = 0; part < parts; ++part) {
      out += kSyllables[random() % std::size(kSyllables)];
    }
    if (random() % 5 == 0) out += std::to_string(random() % 1000);
  }
  out += kEndings[random() % std::size(kEndings)];
}

// One generated source of `lines` lines. Some sources use 127.0.0.1 for their entries (which
// the merge rewrites), the others 0.0.0.0; each has a comment header, localhost lines, blank
// lines, comment lines and entries with trailing comments.
bool WriteSource(const std::string& path, std::size_t lines, bool loopback_style,
                 const std::string& eol, std::mt19937_64& random) {
  const std::string address = loopback_style ? "127.0.0.1 " : "0.0.0.0 ";
  OutFile file(path);
  std::string& out = file.text();
  const char* const preamble[] = {"# Generated block list",
                                  "# Updated: 07 Dec 2025",
                                  "# Entries below map unwanted hosts to a dead address",
                                  "#",
                                  "127.0.0.1 localhost",
                                  "127.0.0.1 localhost.localdomain",
                                  "::1 localhost",
                                  "",
                                  "# [ads]"};
  std::size_t written = 0;
  for (const char* line : preamble) {
    if (written == lines) break;
    out += line;
    out += eol;
    ++written;
  }
  for (; written < lines; ++written) {
    const auto pick = random() % 1000;
    if (pick < 8) {
      // blank line
    } else if (pick < 25) {
      out += "# ";
      AppendHostName(random, out);
      out += " and its mirrors";
    } else if (pick < 27) {
      out += "#" + address;
      AppendHostName(random, out);
    } else {
      out += address;
      AppendHostName(random, out);
      if (pick > 985) out += " #tracking";
    }
    out += eol;
    file.MaybeFlush();
  }
  return file.Close();
}

// Copies a sample list with the corpus' line end; returns its lines, or nullopt.
std::optional<std::size_t> CopySample(const std::string& from, const std::string& to,
                                      const std::string& eol) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return {};
  OutFile file(to);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    file.text() += line;
    file.text() += eol;
    file.MaybeFlush();
  }
  if (!file.Close()) return {};
  return lines;
}

struct Corpus {
  std::string folder;      // the program folder given to vellomar-cli
  std::string hostfiles;   // folder + "/Hostfiles"
  std::string header;      // file names in Hostfiles, header first, in merge order
  std::vector<std::string> sources;
  std::size_t lines = 0;          // lines of the sources, header excluded
  std::size_t sample_lines = 0;   // of those, lines of the sample lists
  std::size_t sample_files = 0;
  std::uintmax_t bytes = 0;       // header and sources
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths = {hostfiles + "/" + header};
    for (const auto& name : sources) paths.push_back(hostfiles + "/" + name);
    return paths;
  }
};

std::optional<Corpus> MakeCorpus(const std::string& folder, std::size_t lines,
                                 const Options& options) {
  Corpus corpus;
  corpus.folder = folder + "/program";
  corpus.hostfiles = corpus.folder + "/Hostfiles";
  std::error_code ec;
  fs::create_directories(corpus.hostfiles, ec);
  if (ec) return {};
  const std::string eol = options.crlf ? "\r\n" : "\n";
  // The header sorts first, as it is the first entry of the list.
  corpus.header = "H_0_Header.txt";
  {
    OutFile header(corpus.hostfiles + "/" + corpus.header);
    header.text() = "# Merged hosts file" + eol + "# Created: #CREATEDDATE#" + eol + "#" + eol +
                    "127.0.0.1 localhost" + eol + "::1 localhost" + eol + eol;
    if (!header.Close()) return {};
  }
  // The sample lists first: the generated lines make up the rest of the size.
  for (fs::directory_iterator it(options.data, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".txt") continue;
    const std::string name = "H_" + it->path().filename().string();
    const auto copied = CopySample(it->path().string(), corpus.hostfiles + "/" + name, eol);
    if (!copied) return {};
    corpus.sources.push_back(name);
    corpus.sample_lines += *copied;
    ++corpus.sample_files;
  }
  // Unequal sizes, as real lists are: generated source i gets a share proportional to i + 1.
  const std::size_t generated = lines > corpus.sample_lines ? lines - corpus.sample_lines : 0;
  const std::size_t n = options.sources;
  const std::size_t weight_sum = n * (n + 1) / 2;
  std::mt19937_64 random(20251207);
  std::size_t given = 0;
  for (std::size_t i = 0; i < n && generated > 0; ++i) {
    const std::size_t share = i + 1 == n ? generated - given : generated * (i + 1) / weight_sum;
    given += share;
    const std::string name = "H_Generated" + std::to_string(i + 1) + ".txt";
    if (!WriteSource(corpus.hostfiles + "/" + name, share, i % 2 == 0, eol, random)) return {};
    corpus.sources.push_back(name);
  }
  corpus.lines = corpus.sample_lines + given;
  std::sort(corpus.sources.begin(), corpus.sources.end());
  for (const auto& path : corpus.Paths()) corpus.bytes += SizeOf(path);
  return corpus;
}

// ---- Processes -----------------------------------------------------------------------------

struct RunFigures {
  double ms = 0;      // from start to exit
  double cpu_ms = 0;  // user + system, children included
  long rss_kb = 0;    // peak resident memory
  bool exited_ok = false;
};

double Milliseconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) * 1000.0 + static_cast<double>(tv.tv_usec) / 1000.0;
}

// Runs argv[0] with its output and errors in files, waits for it and times it.
RunFigures Run(const std::vector<std::string>& args, const std::string& out_path,
               const std::string& err_path) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  RunFigures figures;
  pid_t pid = 0;
  const auto start = Clock::now();
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return figures;
  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = ::wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  figures.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (waited != pid) return figures;
  figures.cpu_ms = Milliseconds(usage.ru_utime) + Milliseconds(usage.ru_stime);
  figures.rss_kb = usage.ru_maxrss;
  figures.exited_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return figures;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// ---- Comparisons ---------------------------------------------------------------------------

// One contender: prepares its run (not timed), runs it, checks its result (an empty text when
// right, else what is wrong).
struct Contender {
  std::string name;
  std::function<void()> prepare;
  std::function<std::vector<std::string>()> command;
  std::function<std::string()> check;
};

struct Series {
  std::vector<double> ms, cpu_ms;
  long rss_kb = 0;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

struct Comparison {
  std::array<Series, 2> series;
  std::vector<double> ratios;  // series[0] / series[1], one per round
  bool valid = true;
  double RatioMedian() const { return Median(ratios); }
};

// Runs one contender once: prepare, time, check. False, said on stderr, when it failed.
bool RunOnce(const Contender& contender, const std::string& log_folder, RunFigures& figures) {
  contender.prepare();
  const std::string out = log_folder + "/last.out";
  const std::string err = log_folder + "/last.err";
  figures = Run(contender.command(), out, err);
  std::string problem;
  if (!figures.exited_ok) {
    problem = "did not exit with status 0: " + FirstLine(err);
  } else {
    problem = contender.check();
  }
  if (problem.empty()) return true;
  std::fprintf(stderr, "FAILED: %s %s\n", contender.name.c_str(), problem.c_str());
  return false;
}

// A warm-up round, then `rounds` paired rounds in alternating order.
Comparison Compare(const std::array<Contender, 2>& contenders, int rounds,
                   const std::string& log_folder) {
  Comparison result;
  RunFigures figures;
  for (const Contender& contender : contenders) {
    result.valid = RunOnce(contender, log_folder, figures) && result.valid;
  }
  for (int round = 0; round < rounds && result.valid; ++round) {
    std::array<double, 2> ms{};
    for (int k = 0; k < 2; ++k) {
      const int which = round % 2 == 0 ? k : 1 - k;
      result.valid = RunOnce(contenders[which], log_folder, figures) && result.valid;
      Series& series = result.series[which];
      series.ms.push_back(figures.ms);
      series.cpu_ms.push_back(figures.cpu_ms);
      series.rss_kb = std::max(series.rss_kb, figures.rss_kb);
      ms[which] = figures.ms;
    }
    if (ms[1] > 0) result.ratios.push_back(ms[0] / ms[1]);
  }
  return result;
}

void PrintComparison(const char* title, const std::array<Contender, 2>& contenders,
                     const Comparison& comparison, int rounds) {
  std::printf("  %-38s %9s %9s %9s %9s\n", title, "median ms", "best ms", "CPU ms", "peak MiB");
  for (int which = 0; which < 2; ++which) {
    const Series& series = comparison.series[which];
    if (series.ms.empty()) continue;
    std::printf("    %-36s %9.1f %9.1f %9.1f %9.1f\n", contenders[which].name.c_str(),
                Median(series.ms), *std::min_element(series.ms.begin(), series.ms.end()),
                Median(series.cpu_ms), static_cast<double>(series.rss_kb) / 1024.0);
  }
  if (comparison.ratios.empty()) return;
  const auto [low, high] = std::minmax_element(comparison.ratios.begin(), comparison.ratios.end());
  std::printf("    ratio, median of %d paired rounds: %.2f  (rounds from %.2f to %.2f)\n", rounds,
              comparison.RatioMedian(), *low, *high);
}

struct SizeResult {
  std::size_t lines = 0;
  std::optional<double> merge_ratio, install_ratio;
  double merge_rss_mib = 0, install_rss_mib = 0;
};

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const auto run_start = Clock::now();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  if (::access(options.cli.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s: cannot run %s (build vellomar-cli first, or give --cli)\n", argv[0],
                 options.cli.c_str());
    return 2;
  }
  const std::string parent =
      options.tmp.empty() ? fs::temp_directory_path().string() : options.tmp;
  std::string root = parent + "/vellomar-cli-bench-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) {
    std::perror(("mkdtemp in " + parent).c_str());
    return 2;
  }

  std::printf("vellomar-cli: %s\n", options.cli.c_str());
  std::printf("private folder: %s\n", root.c_str());
  struct statfs fs_info {};
  if (::statfs(root.c_str(), &fs_info) == 0 && static_cast<long>(fs_info.f_type) == kTmpfsMagic) {
    std::printf("WARNING: %s is in memory (tmpfs): flushing to disk costs nothing there; give "
                "--tmp DIR on a disk\n",
                root.c_str());
  }
  std::error_code ec;
  if (!fs::is_directory(options.data, ec)) {
    std::printf("sample lists: %s is not there; the corpus is generated only (a clone "
                "beside ../shared/bench-data, or --data DIR, mixes real lists in)\n",
                options.data.c_str());
  } else {
    std::printf("sample lists: %s\n", options.data.c_str());
  }
  std::printf("rounds: %d paired, after one warm-up round; order alternates each round\n",
              options.rounds);
  std::printf("load at start (/proc/loadavg): %s\n", LoadAverage().c_str());

  bool all_valid = true;
  std::vector<SizeResult> results;
  const std::string cat_script = "out=$1; shift; cat -- \"$@\" > \"$out\" && sync -- \"$out\"";
  const std::string install_script =
      "set -e; hosts=$1; new=$2; folder=$3\n"
      "cp -- \"$hosts\" \"$hosts.ZRB\"\n"
      "cp -- \"$new\" \"$hosts.new\"\n"
      "sync -- \"$hosts.ZRB\" \"$hosts.new\"\n"
      "mv -f -- \"$hosts.new\" \"$hosts\"\n"
      "sync -- \"$folder\"\n";

  for (const std::size_t lines : options.sizes) {
    SizeResult size_result;
    size_result.lines = lines;
    const std::string folder = root + "/" + std::to_string(lines);
    fs::create_directories(folder + "/logs", ec);
    const auto made = MakeCorpus(folder, lines, options);
    if (!made) {
      std::fprintf(stderr, "cannot write the corpus in %s\n", folder.c_str());
      all_valid = false;
      break;
    }
    const Corpus& corpus = *made;
    const std::string logs = folder + "/logs";
    std::printf("\n== %s lines: %zu sources (%zu sample lists, %s of their lines) + header, "
                "%.1f MiB ==\n",
                Grouped(corpus.lines).c_str(), corpus.sources.size(), corpus.sample_files,
                Grouped(corpus.sample_lines).c_str(), Mib(static_cast<double>(corpus.bytes)));

    // The merge writes every file's text followed by a line end, and around each source a
    // start marker before it and an end marker, a separator line and an empty line after it:
    // line ends of the files, one more for each, and four more for each source.
    std::size_t expected_lines = 0;
    for (const auto& path : corpus.Paths()) {
      const bool is_header = path.ends_with("/" + corpus.header);
      expected_lines += CountLineEnds(path).value_or(0) + 1 + (is_header ? 0 : 4);
    }
    const std::string merged = folder + "/M_Hosts.txt";  // the install's file to install
    const std::string old_hosts = folder + "/hosts.old";  // an earlier install
    const auto merge_command = [&](const std::string& output, const char* mode) {
      std::vector<std::string> args = {options.cli, "--folder", corpus.folder, "--hosts",
                                       old_hosts};
      args.insert(args.end(), {"merge", "--mode", mode, "--output", output, corpus.header});
      args.insert(args.end(), corpus.sources.begin(), corpus.sources.end());
      return args;
    };
    // The merged file to install and the earlier one in the hosts file's place.
    bool setup_ok = true;
    for (const auto& [output, mode] : {std::pair{old_hosts, "127.0.0.1"},
                                       std::pair{merged, "0.0.0.0"}}) {
      const RunFigures figures = Run(merge_command(output, mode), logs + "/setup.out",
                                     logs + "/setup.err");
      if (!figures.exited_ok || CountLineEnds(output).value_or(0) != expected_lines) {
        std::fprintf(stderr, "FAILED: setting up, vellomar-cli merge --mode %s: %s (%zu lines, "
                     "%zu expected)\n", mode, FirstLine(logs + "/setup.err").c_str(),
                     CountLineEnds(output).value_or(0), expected_lines);
        setup_ok = false;
      }
    }
    if (!setup_ok || !FsyncPath(merged) || !FsyncPath(old_hosts)) {
      all_valid = false;
      break;
    }
    const std::uintmax_t merged_bytes = SizeOf(merged);
    // Where the header ends in the merged file: the dated lines before it hold the time of the
    // merge; every byte after it is the same in every merge of these sources.
    std::uintmax_t body_offset = 0;
    {
      std::ifstream in(merged, std::ios::binary);
      std::string head(1 << 16, '\0');
      in.read(head.data(), static_cast<std::streamsize>(head.size()));
      head.resize(static_cast<std::size_t>(in.gcount()));
      const std::size_t found = head.find("# [Start of ");
      body_offset = found == std::string::npos ? 0 : found;
    }
    std::printf("merged file: %s lines, %.1f MiB\n", Grouped(expected_lines).c_str(),
                Mib(static_cast<double>(merged_bytes)));

    if (options.merge) {
      const std::string cli_out = folder + "/cli-merge.txt";
      const std::string cat_out = folder + "/cat-merge.txt";
      std::array<Contender, 2> contenders = {
          Contender{"vellomar-cli merge",
                    [&] {
                      fs::remove(cli_out, ec);
                      SettleFileSystem(folder);
                    },
                    [&] { return merge_command(cli_out, "0.0.0.0"); },
                    [&]() -> std::string {
                      const auto counted = CountLineEnds(cli_out);
                      if (!counted || *counted != expected_lines) {
                        return "wrote " + std::to_string(counted.value_or(0)) + " lines, " +
                               std::to_string(expected_lines) + " expected";
                      }
                      if (!SameBytes(cli_out, merged, body_offset)) {
                        return "wrote " + std::to_string(SizeOf(cli_out)) +
                               " bytes that differ from the first merge's " +
                               std::to_string(merged_bytes) + " (dated header lines aside)";
                      }
                      return {};
                    }},
          Contender{"cat + sync (the floor)",
                    [&] {
                      fs::remove(cat_out, ec);
                      SettleFileSystem(folder);
                    },
                    [&] {
                      std::vector<std::string> args = {"/bin/sh", "-c", cat_script, "sh", cat_out};
                      const auto paths = corpus.Paths();
                      args.insert(args.end(), paths.begin(), paths.end());
                      return args;
                    },
                    [&]() -> std::string {
                      if (SizeOf(cat_out) != corpus.bytes) return "wrote the wrong size";
                      return {};
                    }}};
      const Comparison comparison = Compare(contenders, options.rounds, logs);
      all_valid = all_valid && comparison.valid;
      PrintComparison("merge", contenders, comparison, options.rounds);
      if (comparison.valid) {
        size_result.merge_ratio = comparison.RatioMedian();
        size_result.merge_rss_mib = static_cast<double>(comparison.series[0].rss_kb) / 1024.0;
      }
      fs::remove(cli_out, ec);
      fs::remove(cat_out, ec);
    }

    if (options.install) {
      const std::string cli_dir = folder + "/cli-install";
      const std::string sh_dir = folder + "/sh-install";
      fs::create_directories(cli_dir, ec);
      fs::create_directories(sh_dir, ec);
      // The hosts file holds the earlier merged file again, flushed; no backup yet.
      const auto reset = [&](const std::string& dir) {
        EmptyFolder(dir);
        CopyFlushed(old_hosts, dir + "/hosts");
        FsyncPath(dir);
        SettleFileSystem(folder);
      };
      const auto check = [&](const std::string& dir) -> std::string {
        if (!SameBytes(dir + "/hosts", merged)) return "left a hosts file unlike the merged file";
        if (!SameBytes(dir + "/hosts.ZRB", old_hosts)) return "left a backup unlike the old file";
        return {};
      };
      std::array<Contender, 2> contenders = {
          Contender{"vellomar-cli install", [&] { reset(cli_dir); },
                    [&]() -> std::vector<std::string> {
                      return {options.cli, "--folder", corpus.folder, "--hosts",
                              cli_dir + "/hosts", "install", merged};
                    },
                    [&] { return check(cli_dir); }},
          Contender{"safe shell replacement (the floor)", [&] { reset(sh_dir); },
                    [&]() -> std::vector<std::string> {
                      return {"/bin/sh", "-c", install_script, "sh", sh_dir + "/hosts", merged,
                              sh_dir};
                    },
                    [&] { return check(sh_dir); }}};
      const Comparison comparison = Compare(contenders, options.rounds, logs);
      all_valid = all_valid && comparison.valid;
      PrintComparison("install", contenders, comparison, options.rounds);
      if (comparison.valid) {
        size_result.install_ratio = comparison.RatioMedian();
        size_result.install_rss_mib = static_cast<double>(comparison.series[0].rss_kb) / 1024.0;
      }
    }
    std::printf("load after this size: %s\n", LoadAverage().c_str());
    results.push_back(size_result);
    if (!options.keep) fs::remove_all(folder, ec);
  }

  // The summary: the ratios against the goals.
  bool goals_met = true;
  std::printf("\nsummary (ratio = median over paired rounds of vellomar-cli time / floor time)\n");
  std::printf("  %12s %14s %14s %13s %13s\n", "lines", "merge ratio", "install ratio",
              "merge MiB", "install MiB");
  for (const SizeResult& r : results) {
    const auto cell = [](const std::optional<double>& ratio) {
      char text[32];
      if (ratio) {
        std::snprintf(text, sizeof text, "%.2f", *ratio);
      } else {
        std::snprintf(text, sizeof text, "-");
      }
      return std::string(text);
    };
    std::printf("  %12s %14s %14s %13.1f %13.1f\n", Grouped(r.lines).c_str(),
                cell(r.merge_ratio).c_str(), cell(r.install_ratio).c_str(), r.merge_rss_mib,
                r.install_rss_mib);
  }
  std::printf("goals\n");
  bool any_goal = false;
  for (const SizeResult& r : results) {
    if (r.lines < kGoalLines) continue;
    if (r.merge_ratio) {
      const bool met = *r.merge_ratio <= kMergeGoal;
      goals_met = goals_met && met;
      any_goal = true;
      std::printf("  merge   at %9s lines: %.2f <= %.1f x cat + fsync      %s\n",
                  Grouped(r.lines).c_str(), *r.merge_ratio, kMergeGoal, Verdict(met));
    }
    if (r.install_ratio) {
      const bool met = *r.install_ratio <= kInstallGoal;
      goals_met = goals_met && met;
      any_goal = true;
      std::printf("  install at %9s lines: %.2f <= %.1f x safe shell copy   %s\n",
                  Grouped(r.lines).c_str(), *r.install_ratio, kInstallGoal, Verdict(met));
    }
    if (r.lines < kMemoryGoalLines) continue;
    for (const auto& [what, ratio, mib] :
         {std::tuple{"merge  ", r.merge_ratio, r.merge_rss_mib},
          std::tuple{"install", r.install_ratio, r.install_rss_mib}}) {
      if (!ratio) continue;
      const bool met = mib <= kMemoryGoalMib;
      goals_met = goals_met && met;
      any_goal = true;
      std::printf("  %s at %9s lines: peak %.1f MiB <= %.0f MiB        %s\n", what,
                  Grouped(r.lines).c_str(), mib, kMemoryGoalMib, Verdict(met));
    }
  }
  if (!any_goal) std::printf("  (none at these sizes: the goals apply from 1,000,000 lines)\n");
  std::printf("load at end (/proc/loadavg): %s\n", LoadAverage().c_str());
  std::printf("whole run: %.0f s\n",
              std::chrono::duration<double>(Clock::now() - run_start).count());
  if (!options.keep) fs::remove_all(root, ec);
  if (!all_valid) {
    std::printf("INVALID: a run failed or gave a wrong result (see above); the figures do not "
                "count\n");
    return 1;
  }
  return goals_met ? 0 : 3;
}
