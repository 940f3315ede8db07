// Times a whole merge against `cat` and `sed` over the same files, in the same run, so that
// the figures are ratios that do not depend on the machine.
//
//   merge_bench [--lines N] [--sources N] [--rounds N] [--crlf]
//
// A private temporary folder gets N generated sources (N lines in all, default 1,000,000 in 8
// sources of unequal size; every other source uses 127.0.0.1 for its entries, the rest
// 0.0.0.0), copies of the sample lists when they are there, and a small header. The files use
// LF, or CR LF with --crlf, and the merge the matching line end. Each round runs, each in a
// process of its own and writing a fresh file:
//   merge  the program's merge: every source read whole, one at a time into one reused buffer,
//          and given to a MergeWriter in the "Use 0.0.0.0" mode, committed over M_Hosts.txt
//          (which flushes it to disk);
//   cat    cat of the same files into one file (and once more followed by sync of that file);
//   sed    sed 's/127\.0\.0\.1/0.0.0.0/g' of the same files into one file;
//   cli    vellomar-cli merge of the same files (linked into a Hostfiles folder of its own) as a
//          whole process: start, listing, the check of every source, the merge and its Commit.
// The merge runs in a forked child, so its peak resident memory is its own; the child also
// times its reads, its writer and its Commit separately. Ratios are of medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "merge/merge_writer.h"
#include "support/file_reader.h"
#include "support/line_end.h"

namespace {

namespace fs = std::filesystem;
using vellomar::merge::AddressMode;
using vellomar::merge::MergeWriter;
using vellomar::support::LineEnd;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
  std::size_t lines = 1000000;
  std::size_t sources = 8;
  int rounds = 7;
  LineEnd line_end = LineEnd::kLf;
};

// Writes a file in pieces, so that the generator never holds a whole file.
class ChunkedFile {
 public:
  explicit ChunkedFile(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {}
  ~ChunkedFile() { Flush(); }
  ChunkedFile(const ChunkedFile&) = delete;
  ChunkedFile& operator=(const ChunkedFile&) = delete;
  std::string& text() { return text_; }
  void MaybeFlush() {
    if (text_.size() > (1u << 20)) Flush();
  }

 private:
  void Flush() {
    out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
  }
  std::ofstream out_;
  std::string text_;
};

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

// One generated source of `lines` lines. Half of the sources use 127.0.0.1 for their entries
// (which the merge rewrites), the other half 0.0.0.0; each has a comment header, localhost
// lines, blank lines, comment lines and entries with trailing comments.
void WriteSource(const std::string& path, std::size_t lines, bool loopback_style, LineEnd le,
                 std::mt19937_64& random) {
  const std::string eol(vellomar::support::LineEndText(le));
  const std::string address = loopback_style ? "127.0.0.1 " : "0.0.0.0 ";
  ChunkedFile file(path);
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
}

void CopyWithLineEnd(const std::string& from, const std::string& to, LineEnd le) {
  std::ifstream in(from, std::ios::binary);
  ChunkedFile file(to);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    file.text() += line;
    file.text() += vellomar::support::LineEndText(le);
    file.MaybeFlush();
  }
}

struct Corpus {
  std::string header;
  std::vector<std::string> sources;  // paths, in merge order
  std::uintmax_t total_bytes = 0;
  std::uintmax_t largest_bytes = 0;
  std::string largest_name;
};

Corpus MakeCorpus(const std::string& folder, const Options& options) {
  Corpus corpus;
  const std::string eol(vellomar::support::LineEndText(options.line_end));
  corpus.header = folder + "/H_Header.txt";
  {
    ChunkedFile header(corpus.header);
    header.text() = "# Merged hosts file" + eol + "# Created: #CREATEDDATE#" + eol + "#" + eol +
                    "127.0.0.1 localhost" + eol + "::1 localhost" + eol + eol;
  }
  // Unequal sizes, as real lists are: source i gets a share proportional to i + 1.
  const std::size_t n = std::max<std::size_t>(1, options.sources);
  const std::size_t weight_sum = n * (n + 1) / 2;
  std::mt19937_64 random(20251207);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string path = folder + "/H_Generated" + std::to_string(i + 1) + ".txt";
    WriteSource(path, options.lines * (i + 1) / weight_sum, i % 2 == 0, options.line_end, random);
    corpus.sources.push_back(path);
  }
  std::error_code ec;
  for (fs::directory_iterator it(VELLOMAR_BENCH_DATA, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() != ".txt") continue;
    const std::string path = folder + "/H_" + it->path().filename().string();
    CopyWithLineEnd(it->path().string(), path, options.line_end);
    corpus.sources.push_back(path);
  }
  std::sort(corpus.sources.begin(), corpus.sources.end());
  for (const std::string& path : corpus.sources) {
    const auto size = fs::file_size(path, ec);
    corpus.total_bytes += size;
    if (size > corpus.largest_bytes) {
      corpus.largest_bytes = size;
      corpus.largest_name = fs::path(path).filename().string();
    }
  }
  corpus.total_bytes += fs::file_size(corpus.header, ec);
  return corpus;
}

// What one merge in a child reports back.
struct MergeFigures {
  double total_ms = 0;   // from the first read to the end of Commit
  double commit_ms = 0;  // Commit alone: last buffer written, flush to disk, rename
  double read_ms = 0;    // the whole-file reads of the header and the sources
  long max_rss_kb = 0;   // peak resident memory of the child
  bool replaced = false;
};

// Runs the merge in a forked child and collects its figures.
MergeFigures RunMergeInChild(const Corpus& corpus, const std::string& target, LineEnd le) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    MergeFigures figures;
    const auto start = Clock::now();
    MergeWriter writer(target, AddressMode::kUse0000, le, "07/12/2025 01:08:00");
    // One source's bytes at a time, as the window does, in one buffer that every read reuses.
    std::string text;
    const auto read = [&figures, &text](const std::string& path) -> const std::string& {
      const auto read_start = Clock::now();
      (void)vellomar::support::ReadWholeFile(path, text);
      figures.read_ms += MillisecondsSince(read_start);
      return text;
    };
    writer.AddHeader(read(corpus.header));
    for (const std::string& path : corpus.sources) {
      writer.AddSource(fs::path(path).filename().string(), read(path));
    }
    const auto commit_start = Clock::now();
    figures.replaced = writer.Commit() == MergeWriter::CommitResult::kReplaced;
    figures.commit_ms = MillisecondsSince(commit_start);
    figures.total_ms = MillisecondsSince(start);
    [[maybe_unused]] const auto n = ::write(pipe_fds[1], &figures, sizeof figures);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  MergeFigures figures;
  if (pid < 0 || ::read(pipe_fds[0], &figures, sizeof figures) != sizeof figures) figures = {};
  ::close(pipe_fds[0]);
  int status = 0;
  rusage usage{};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) figures.max_rss_kb = usage.ru_maxrss;
  return figures;
}

struct ShellFigures {
  double ms = 0;
  long max_rss_kb = 0;
  bool ok = false;
};

// Runs a command line through /bin/sh and times it from start to exit.
ShellFigures RunShell(const std::string& command) {
  ShellFigures figures;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    figures.ms = MillisecondsSince(start);
    figures.max_rss_kb = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return figures;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

struct Series {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Best() const { return *std::min_element(values.begin(), values.end()); }
  double Median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--lines" && has_value) {
      options.lines = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--sources" && has_value) {
      options.sources = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--rounds" && has_value) {
      options.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--crlf") {
      options.line_end = LineEnd::kCrLf;
    } else {
      std::fprintf(stderr, "usage: %s [--lines N] [--sources N] [--rounds N] [--crlf]\n", argv[0]);
      std::exit(2);
    }
  }
  return options;
}

double Mib(std::uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::string folder = (fs::temp_directory_path() / "vellomar-merge-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const Corpus corpus = MakeCorpus(folder, options);
  const std::string target = folder + "/M_Hosts.txt";
  const std::string cat_out = folder + "/cat.out";
  const std::string sed_out = folder + "/sed.out";
  std::string inputs = Quoted(corpus.header);
  for (const std::string& path : corpus.sources) inputs += " " + Quoted(path);
  const std::string cat_command = "cat " + inputs + " > " + Quoted(cat_out);
  const std::string cat_sync_command = cat_command + " && sync " + Quoted(cat_out);
  const std::string sed_command =
      "sed 's/127\\.0\\.0\\.1/0.0.0.0/g' " + inputs + " > " + Quoted(sed_out);
  const std::string spawn_command = ": > " + Quoted(folder + "/spawn.out");
  // The command line reads its sources from a program folder of its own: hard links to the
  // same files, so that every contender reads the same pages.
  const std::string cli_folder = folder + "/cli";
  const std::string cli_out = folder + "/cli.out";
  fs::create_directories(cli_folder + "/Hostfiles");
  // The header sorts first in the list, as a header must be the first ticked entry.
  std::string cli_names = "H_0_Header.txt";
  for (const std::string& path : corpus.sources)
    cli_names += " " + Quoted(fs::path(path).filename().string());
  {
    std::error_code ec;
    fs::create_hard_link(corpus.header, cli_folder + "/Hostfiles/H_0_Header.txt", ec);
    for (const std::string& path : corpus.sources) {
      fs::create_hard_link(path, cli_folder + "/Hostfiles/" + fs::path(path).filename().string(),
                           ec);
    }
  }
  const std::string cli_command = "exec " + Quoted(VELLOMAR_CLI) + " --folder " +
                                  Quoted(cli_folder) + " --hosts " + Quoted(folder + "/hosts") +
                                  " merge --output " + Quoted(cli_out) + " " + cli_names +
                                  " > /dev/null";

  std::printf("corpus: %zu files + header, %.1f MiB, %zu generated lines, line end %s\n",
              corpus.sources.size(), Mib(corpus.total_bytes), options.lines,
              options.line_end == LineEnd::kCrLf ? "CR LF" : "LF");
  std::printf("largest source: %s, %.1f MiB\n", corpus.largest_name.c_str(),
              Mib(corpus.largest_bytes));

  // Warm the page cache and every code path once before timing.
  RunShell("cat " + inputs + " > /dev/null");
  RunMergeInChild(corpus, target, options.line_end);
  RunShell(sed_command);
  if (!RunShell(cli_command).ok) std::printf("vellomar-cli failed: %s\n", cli_command.c_str());

  Series merge_total, merge_commit, merge_before_commit, merge_read, merge_writer;
  Series cat, cat_sync, sed, spawn, cli;
  long cli_rss_kb = 0;
  long merge_rss_kb = 0;
  long cat_rss_kb = 0;
  long sed_rss_kb = 0;
  bool all_ok = true;
  for (int round = 0; round < options.rounds; ++round) {
    // Every run writes a fresh file, so none pays for freeing the previous one.
    std::error_code ec;
    for (const std::string& path : {target, cat_out, sed_out, cli_out}) fs::remove(path, ec);
    const MergeFigures merge = RunMergeInChild(corpus, target, options.line_end);
    all_ok = all_ok && merge.replaced;
    merge_total.Add(merge.total_ms);
    merge_commit.Add(merge.commit_ms);
    merge_before_commit.Add(merge.total_ms - merge.commit_ms);
    merge_read.Add(merge.read_ms);
    merge_writer.Add(merge.total_ms - merge.commit_ms - merge.read_ms);
    merge_rss_kb = std::max(merge_rss_kb, merge.max_rss_kb);

    ShellFigures figures = RunShell(cat_command);
    all_ok = all_ok && figures.ok;
    cat.Add(figures.ms);
    cat_rss_kb = std::max(cat_rss_kb, figures.max_rss_kb);
    fs::remove(cat_out, ec);
    figures = RunShell(cat_sync_command);
    all_ok = all_ok && figures.ok;
    cat_sync.Add(figures.ms);
    figures = RunShell(sed_command);
    all_ok = all_ok && figures.ok;
    sed.Add(figures.ms);
    sed_rss_kb = std::max(sed_rss_kb, figures.max_rss_kb);
    figures = RunShell(spawn_command);
    spawn.Add(figures.ms);
    figures = RunShell(cli_command);
    all_ok = all_ok && figures.ok;
    cli.Add(figures.ms);
    cli_rss_kb = std::max(cli_rss_kb, figures.max_rss_kb);
  }
  const std::uintmax_t merged_bytes = fs::file_size(target);
  const std::uintmax_t sed_bytes = fs::file_size(sed_out);

  std::printf("output: M_Hosts.txt %.1f MiB, sed output %.1f MiB\n", Mib(merged_bytes),
              Mib(sed_bytes));
  const std::string heading = "times over " + std::to_string(options.rounds) + " rounds";
  std::printf("\n%-44s %10s %10s\n", heading.c_str(), "best ms", "median ms");
  const auto row = [](const char* name, const Series& series) {
    std::printf("%-44s %10.1f %10.1f\n", name, series.Best(), series.Median());
  };
  row("merge, Commit's flush to disk included", merge_total);
  row("  of which Commit (last write, fsync, rename)", merge_commit);
  row("merge without Commit", merge_before_commit);
  row("  of which reading the files", merge_read);
  row("  of which the writer (rules, buffer, writes)", merge_writer);
  row("cat > file", cat);
  row("cat > file && sync file", cat_sync);
  row("sed 's/127.../0.0.0.0/g' > file", sed);
  row("sh -c ': > file' (process start only)", spawn);
  row("vellomar-cli merge (whole process)", cli);

  const double merge_ms = merge_total.Median();
  const double merge_no_sync_ms = merge_before_commit.Median();
  const double merge_over_cat = merge_ms / cat.Median();
  const double merge_over_cat_sync = merge_ms / cat_sync.Median();
  const double merge_no_sync_over_cat = merge_no_sync_ms / cat.Median();
  const double sed_over_merge = sed.Median() / merge_ms;
  const double rss_mib = static_cast<double>(merge_rss_kb) / 1024.0;
  const double rss_limit_mib = 2.0 * Mib(corpus.largest_bytes) + 20.0;
  const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };

  std::printf("\nratios (medians)\n");
  std::printf("  merge with fsync / cat              %6.2f   (target <= 2: %s)\n", merge_over_cat,
              verdict(merge_over_cat <= 2.0));
  std::printf("  merge with fsync / (cat + sync)     %6.2f\n", merge_over_cat_sync);
  std::printf("  merge without Commit / cat          %6.2f   (target <= 2: %s)\n",
              merge_no_sync_over_cat, verdict(merge_no_sync_over_cat <= 2.0));
  std::printf("  sed / merge with fsync              %6.2f   (target >= 5: %s)\n", sed_over_merge,
              verdict(sed_over_merge >= 5.0));
  std::printf(
      "peak resident memory: merge %.1f MiB (target <= 2 x %.1f + 20 = %.1f MiB: %s), "
      "cat %.1f MiB, sed %.1f MiB\n",
      rss_mib, Mib(corpus.largest_bytes), rss_limit_mib, verdict(rss_mib <= rss_limit_mib),
      static_cast<double>(cat_rss_kb) / 1024.0, static_cast<double>(sed_rss_kb) / 1024.0);
  const double cli_over_merge = cli.Median() / merge_ms;
  std::printf("  vellomar-cli merge / merge in process %4.2f   (target <= 1.3: %s)\n",
              cli_over_merge, verdict(cli_over_merge <= 1.3));
  std::printf("  vellomar-cli merge / cat            %6.2f\n", cli.Median() / cat.Median());
  std::printf("  sed / vellomar-cli merge            %6.2f\n", sed.Median() / cli.Median());
  std::printf("peak resident memory: vellomar-cli merge %.1f MiB\n",
              static_cast<double>(cli_rss_kb) / 1024.0);
  if (!all_ok) std::printf("WARNING: a run failed; the figures are not valid\n");

  std::error_code ec;
  fs::remove_all(folder, ec);
  return all_ok ? 0 : 1;
}
