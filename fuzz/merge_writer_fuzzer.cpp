// The merge writer. Input: a header and up to three sources separated by 0xFF bytes. Under POSIX,
// with no change of addresses and no localhost or placeholder lines, every source's bytes must
// appear unchanged between its markers, and the header unchanged at the start.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  using vellomar::support::Contains;
  if (Contains(input, "localhost") || Contains(input, "#CREATEDDATE#")) return 0;
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (parts.size() < 4) {
    const std::size_t cut = input.find('\xff', start);
    parts.push_back(input.substr(start, cut == std::string_view::npos ? cut : cut - start));
    if (cut == std::string_view::npos) break;
    start = cut + 1;
  }
  const std::string& target = TargetPath();
  using namespace vellomar::merge;
  // Under POSIX: Windows writes lines of more than nine names as several.
  MergeWriter writer(target, AddressMode::kNoChange, vellomar::support::LineEnd::kCrLf, "date", {},
                     vellomar::platform::OsFamily::kPosix);
  writer.AddHeader(parts[0]);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    writer.AddSource("H_" + std::to_string(i) + ".txt", parts[i]);
  }
  if (writer.Commit() != MergeWriter::CommitResult::kReplaced) __builtin_trap();

  std::ifstream in(target, std::ios::binary);
  const std::string merged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string expected = std::string(parts[0]) + "\r\n";
  if (merged.compare(0, expected.size(), expected) != 0) __builtin_trap();
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string name = "H_" + std::to_string(i) + ".txt";
    expected += "# [Start of " + name + " entries]\r\n" + std::string(parts[i]) + "\r\n# [End of " +
                name + " entries]\r\n" + std::string(kSeparatorLine) + "\r\n\r\n";
  }
  if (merged != expected) __builtin_trap();
  return 0;
}
