// The merge writer. Input: a header and up to three sources separated by 0xFF bytes. Under POSIX,
// with no change of addresses and no localhost or placeholder lines, every source's bytes must
// appear unchanged between its markers, and the header unchanged at the start. Rules on names
// that leave nothing out must give the same bytes; with names allowed, duplicates left out and
// packing, no block line may hold an allowed name or one blocked before, and no packed line more
// than nine names.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "merge/merge_writer.h"
#include "support/text.h"

namespace {

const std::string& TargetPath() {
  static const std::string path = [] {
    // In memory where it can be: every commit flushes the file and its folder to disk.
    char in_memory[] = "/dev/shm/vellomar-fuzz-XXXXXX";
    char on_disk[] = "/tmp/vellomar-fuzz-XXXXXX";
    char* folder = ::mkdtemp(in_memory);
    if (folder == nullptr) folder = ::mkdtemp(on_disk);
    if (folder == nullptr) __builtin_trap();
    return std::string(folder) + "/M_Hosts.txt";
  }();
  return path;
}

using vellomar::merge::MergeWriter;
using vellomar::merge::NameRules;

std::string MergeOnce(const std::vector<std::string_view>& parts, const NameRules& rules) {
  const std::string& target = TargetPath();
  // Under POSIX: Windows writes lines of more than nine names as several.
  MergeWriter writer(target, vellomar::merge::AddressMode::kNoChange,
                     vellomar::support::LineEnd::kCrLf, "date", {},
                     vellomar::platform::OsFamily::kPosix);
  writer.SetNameRules(rules);
  writer.AddHeader(parts[0]);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    writer.AddSource("H_" + std::to_string(i) + ".txt", parts[i]);
  }
  if (writer.Commit() != MergeWriter::CommitResult::kReplaced) __builtin_trap();
  std::ifstream in(target, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Allowed(std::string_view name) { return vellomar::support::Contains(name, "a"); }

// The block lines of `merged` (CR LF lines) break none of the rules on names.
void CheckNames(std::string_view merged) {
  constexpr std::string_view kBlanks = " \t";
  std::set<std::pair<bool, std::string>> seen;
  bool in_source = false;
  for (std::size_t start = 0; start < merged.size();) {
    std::size_t end = merged.find("\r\n", start);
    if (end == std::string_view::npos) end = merged.size();
    const std::string_view line = merged.substr(start, end - start);
    start = end + 2;
    if (line.starts_with("# [Start of ")) in_source = true;
    if (line.starts_with("# [End of ")) in_source = false;
    const std::size_t address = line.find_first_not_of(kBlanks);
    if (address == std::string_view::npos) continue;
    const std::size_t address_end = std::min(line.find_first_of(kBlanks, address), line.size());
    const std::string_view field = line.substr(address, address_end - address);
    if (field != "0.0.0.0" && field != "127.0.0.1" && field != "::" && field != "::1") continue;
    bool control = false;
    for (const char c : line) control |= static_cast<unsigned char>(c) < 0x20 && c != '\t';
    if (control) continue;
    const std::size_t stop = std::min(line.find('#', address_end), line.size());
    std::size_t names = 0;
    for (std::size_t name = line.find_first_not_of(kBlanks, address_end); name < stop;) {
      const std::size_t name_end = std::min(line.find_first_of(kBlanks, name), stop);
      std::string key = vellomar::support::ToLowerAscii(line.substr(name, name_end - name));
      ++names;
      if (Allowed(line.substr(name, name_end - name))) __builtin_trap();
      const bool ipv6 = field.find(':') != field.npos;
      if (key.size() + ipv6 <= 255 && !seen.emplace(ipv6, key).second) {
        __builtin_trap();
      }
      name = line.find_first_not_of(kBlanks, name_end);
    }
    if (in_source && stop == line.size() && names > 9) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  using vellomar::support::Contains;
  // "# [" keeps the markers the merge's own, for CheckNames.
  if (Contains(input, "localhost") || Contains(input, "#CREATEDDATE#") || Contains(input, "# [")) {
    return 0;
  }
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (parts.size() < 4) {
    const std::size_t cut = input.find('\xff', start);
    parts.push_back(input.substr(start, cut == std::string_view::npos ? cut : cut - start));
    if (cut == std::string_view::npos) break;
    start = cut + 1;
  }
  const std::string merged = MergeOnce(parts, {});
  std::string expected = std::string(parts[0]) + "\r\n";
  if (merged.compare(0, expected.size(), expected) != 0) __builtin_trap();
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string name = "H_" + std::to_string(i) + ".txt";
    expected += "# [Start of " + name + " entries]\r\n" + std::string(parts[i]) + "\r\n# [End of " +
                name + " entries]\r\n" + std::string(vellomar::merge::kSeparatorLine) + "\r\n\r\n";
  }
  if (merged != expected) __builtin_trap();

  NameRules nothing_left_out;
  nothing_left_out.allowed = [](std::string_view) { return false; };
  if (MergeOnce(parts, nothing_left_out) != merged) __builtin_trap();
  NameRules all;
  all.allowed = Allowed;
  all.dedupe = all.pack = true;
  CheckNames(MergeOnce(parts, all));
  return 0;
}
