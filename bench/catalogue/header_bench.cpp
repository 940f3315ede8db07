// Times the size summary and the header read of a large hosts file against `wc -l` on the same
// file, in the same run, so the figure is a ratio that does not depend on the machine.
//
//   header_bench [lines]    (default 1,000,000)
//
// B is what the window does (size summary, then the header read in chunks, never holding the
// file in memory); A gives the same results through a whole-file read, for comparison.
//
// The file holds entry lines, comments, blank lines and a few start markers but no dated line,
// so the header reader has to examine every line of it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "catalogue/header_reader.h"
#include "support/file_reader.h"
#include "support/line_end.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vellomar::support::LineEnd;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 11;

// Entry and comment lines of the sample lists, when they are there, for realistic line shapes.
std::vector<std::string> SampleLines() {
  std::vector<std::string> lines;
  std::error_code ec;
  for (fs::directory_iterator it(VELLOMAR_BENCH_DATA, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() != ".txt") continue;
    std::ifstream in(it->path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // Dated lines would stop the reader early; leave them out.
      if (line.find("# -------") != std::string::npos) continue;
      lines.push_back(line);
    }
  }
  return lines;
}

std::string MakeHostsText(std::size_t line_count, LineEnd line_end) {
  const std::vector<std::string> samples = SampleLines();
  const std::string_view eol = vellomar::support::LineEndText(line_end);
  std::string text;
  text.reserve(line_count * 36);
  std::uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (std::size_t i = 0; i < line_count; ++i) {
    if (i % 200000 == 0) {
      text += "# [Start of H_list" + std::to_string(i / 200000) + ".txt entries]";
    } else if (i % 50 == 0) {
      text += "# ---- blocked by request " + std::to_string(i) + " ----";
    } else if (i % 97 == 0) {
      // blank line
    } else if (i % 13 == 0) {
      text += "0.0.0.0 tracker" + std::to_string(next() % 100000) + ".example.net # telemetry";
    } else if (!samples.empty() && i % 3 != 0) {
      text += samples[next() % samples.size()];
    } else {
      text += "0.0.0.0 ads" + std::to_string(next() % 1000000) + ".some-host.example.com";
    }
    text += eol;
  }
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Wall time of one `wc -l path` run, its output sent to /dev/null.
double TimeWc(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string wc = "wc";
  std::string flag = "-l";
  std::string file = path;
  char* argv[] = {wc.data(), flag.data(), file.data(), nullptr};
  const auto begin = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "wc", &actions, nullptr, argv, environ) != 0) {
    std::cerr << "cannot start wc\n";
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "wc failed\n";
    std::exit(1);
  }
  return elapsed;
}

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Outcome {
  std::string summary;
  std::size_t version_bytes = 0;
  std::size_t names = 0;
};

// The window's reading as it stands: the size summary, then the header of the whole text.
double TimeWholeText(const std::string& path, LineEnd line_end, Outcome& outcome, double& read_only,
                     double& header_only) {
  const auto begin = Clock::now();
  outcome.summary = vellomar::catalogue::FileSummary(path, line_end);
  const auto summarised = Clock::now();
  const std::string text = vellomar::support::ReadWholeFile(path);
  const auto read = Clock::now();
  const auto report = vellomar::catalogue::ReadHeader(text, line_end);
  const auto end = Clock::now();
  read_only = Ms(summarised, read);
  header_only = Ms(read, end);
  outcome.version_bytes = report.version_text.size();
  outcome.names = report.source_names.size();
  return Ms(begin, end);
}

// The same results with the header read in chunks.
double TimeChunked(const std::string& path, LineEnd line_end, Outcome& outcome) {
  const auto begin = Clock::now();
  outcome.summary = vellomar::catalogue::FileSummary(path, line_end);
  const auto report = vellomar::catalogue::ReadHeaderFile(path, line_end);
  const auto end = Clock::now();
  outcome.version_bytes = report.version_text.size();
  outcome.names = report.source_names.size();
  return Ms(begin, end);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Best(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t line_count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::string folder = (fs::temp_directory_path() / "vellomar-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    std::cerr << "cannot make a temporary folder\n";
    return 1;
  }

  std::printf("Times in ms over %d rounds, median (best).\n", kRounds);
  std::printf("  A: FileSummary + ReadWholeFile + ReadHeader\n");
  std::printf("  B: FileSummary + ReadHeaderFile\n");
  std::printf("  R: ReadWholeFile alone (within A)\n");
  std::printf("  H: ReadHeader alone, over the text in memory (within A)\n");
  int status = 0;
  for (const LineEnd line_end : {LineEnd::kLf, LineEnd::kCrLf}) {
    const std::string path = folder + "/M_Hosts.txt";
    const std::string text = MakeHostsText(line_count, line_end);
    WriteText(path, text);
    // Warm the page cache for every contender.
    (void)vellomar::support::ReadWholeFile(path);
    TimeWc(path);

    std::vector<double> wc_times;
    std::vector<double> whole_times;
    std::vector<double> chunked_times;
    std::vector<double> read_times;
    std::vector<double> header_times;
    Outcome whole;
    Outcome chunked;
    for (int round = 0; round < kRounds; ++round) {
      wc_times.push_back(TimeWc(path));
      double read_only = 0;
      double header_only = 0;
      whole_times.push_back(TimeWholeText(path, line_end, whole, read_only, header_only));
      read_times.push_back(read_only);
      header_times.push_back(header_only);
      chunked_times.push_back(TimeChunked(path, line_end, chunked));
    }
    const double wc_ms = Median(wc_times);
    std::printf("\n%s file, %zu lines, %zu bytes; wc -l %.2f (%.2f)\n",
                line_end == LineEnd::kLf ? "LF" : "CR LF", line_count, text.size(), wc_ms,
                Best(wc_times));
    const auto row = [&](const char* name, const std::vector<double>& times) {
      std::printf("  %s %8.2f (%8.2f)   ratio to wc -l: %5.2f (best to best %5.2f)\n", name,
                  Median(times), Best(times), Median(times) / wc_ms, Best(times) / Best(wc_times));
    };
    row("A", whole_times);
    row("B", chunked_times);
    row("R", read_times);
    row("H", header_times);
    std::printf("  summary \"%s\", %zu version bytes, %zu source names\n", whole.summary.c_str(),
                whole.version_bytes, whole.names);

    const std::string expected =
        std::to_string(line_count + 1) + " Lines - len: " + std::to_string(text.size());
    if (whole.summary != expected || whole.version_bytes != 0 || chunked.summary != whole.summary ||
        chunked.names != whole.names || chunked.version_bytes != whole.version_bytes) {
      std::fprintf(stderr, "unexpected result, expected \"%s\"\n", expected.c_str());
      status = 1;
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return status;
}
