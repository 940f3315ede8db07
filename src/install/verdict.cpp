#include "install/verdict.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/text.h"

namespace vellomar::install {
namespace {

// Fills `into` from `file` up to `size` bytes; fewer only at the end. nullopt on an error.
std::optional<std::size_t> Fill(platform::InputFile& file, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t n = file.Read(into + done, size - done);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

Sameness CompareFiles(const std::string& a, const std::string& b) {
  platform::ReadStatus status_a;
  platform::ReadStatus status_b;
  // As the whole-file reader opens them: hidden names and marked files are not there.
  platform::InputFile file_a = support::OpenForReading(a, {}, status_a);
  platform::InputFile file_b = support::OpenForReading(b, {}, status_b);
  if (status_a != platform::ReadStatus::kOk || status_b != platform::ReadStatus::kOk) {
    return Sameness::kDifferent;
  }
  if (file_a.Facts().size != file_b.Facts().size) return Sameness::kDifferent;
  constexpr std::size_t kBlock = std::size_t{64} << 10;
  static thread_local char block_a[kBlock];
  static thread_local char block_b[kBlock];
  std::uint64_t total = 0;
  while (true) {
    const auto got_a = Fill(file_a, block_a, kBlock);
    const auto got_b = Fill(file_b, block_b, kBlock);
    if (!got_a || !got_b) return Sameness::kUnknown;
    if (*got_a != *got_b || std::memcmp(block_a, block_b, *got_a) != 0) return Sameness::kDifferent;
    total += *got_a;
    if (*got_a < kBlock) break;
    if (total > file_a.Facts().size) return Sameness::kDifferent;  // still growing
  }
  return total == file_a.Facts().size ? Sameness::kSame : Sameness::kDifferent;
}

Sameness JudgeInstall(std::string_view merged_version_text, std::string_view current_version_text,
                      const std::string& merged_path, const std::string& hosts_path) {
  if (!merged_version_text.empty() && merged_version_text != current_version_text) {
    return Sameness::kDifferent;
  }
  // Equal version texts prove nothing when a failed copy left an older file with the same
  // header, or when the merged file has no dated lines at all: the bytes decide.
  return CompareFiles(merged_path, hosts_path);
}

bool NamesHost(std::string_view hosts, std::string_view host_name, support::LineEnd line_end) {
  if (host_name.empty()) return false;
  const std::string wanted = support::ToLowerAscii(host_name);
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
  };
  bool found = false;
  support::ForEachLine(hosts, line_end, [&](std::string_view line) {
    line = line.substr(0, std::min(line.find('#'), line.size()));
    bool address = true;  // the first word is the address, the others its names
    std::size_t pos = 0;
    while (pos < line.size() && !found) {
      while (pos < line.size() && blank(line[pos])) ++pos;
      std::size_t end = pos;
      while (end < line.size() && !blank(line[end])) ++end;
      if (end > pos && !address && support::ToLowerAscii(line.substr(pos, end - pos)) == wanted) {
        found = true;
      }
      if (end > pos) address = false;
      pos = end;
    }
    return !found;
  });
  return found;
}

}  // namespace vellomar::install
