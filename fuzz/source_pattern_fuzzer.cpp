// The source-name pattern matcher against a plain dynamic-programming matcher. Input: the
// pattern, a NUL byte, the name.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "catalogue/source_list.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// matches[i][j]: name[0, i) matches pattern[0, j).
bool Reference(std::string_view name, std::string_view pattern) {
  std::vector<std::vector<char>> matches(name.size() + 1, std::vector<char>(pattern.size() + 1, 0));
  matches[0][0] = 1;
  for (std::size_t j = 1; j <= pattern.size(); ++j) {
    matches[0][j] = pattern[j - 1] == '*' && matches[0][j - 1];
  }
  for (std::size_t i = 1; i <= name.size(); ++i) {
    for (std::size_t j = 1; j <= pattern.size(); ++j) {
      const char p = pattern[j - 1];
      if (p == '*') {
        matches[i][j] = matches[i - 1][j] || matches[i][j - 1];
      } else if (p == '?' || Lower(p) == Lower(name[i - 1])) {
        matches[i][j] = matches[i - 1][j - 1];
      }
    }
  }
  return matches[name.size()][pattern.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  if (nul == std::string_view::npos || size > 512) return 0;
  const std::string_view pattern = input.substr(0, nul);
  const std::string_view name = input.substr(nul + 1);
  if (vellomar::catalogue::MatchesPattern(name, pattern) != Reference(name, pattern)) {
    __builtin_trap();
  }
  return 0;
}
