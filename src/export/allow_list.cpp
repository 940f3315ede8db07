#include "export/allow_list.h"

#include "support/file_reader.h"
#include "support/line_end.h"
#include "support/text.h"

namespace vellomar::exports {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

AllowList AllowList::Parse(std::string_view text) {
  AllowList list;
  support::ForEachLine(text, support::LineEnd::kLf, [&](std::string_view line) {
    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) return true;
    std::string name = support::ToLowerAscii(line);
    while (!name.empty() && name.back() == '.') name.pop_back();  // "example.com." is the same
    if (name.rfind("*.", 0) == 0) {
      if (name.size() > 2) list.below_.insert(name.substr(2));
    } else if (!name.empty()) {
      list.exact_.insert(std::move(name));
    }
    return true;
  });
  return list;
}

AllowList AllowList::Load(const std::string& folder, platform::ReadStatus& status) {
  std::string text;
  status = support::ReadWholeFile(platform::JoinPath(folder, std::string(kAllowListName)), text,
                                  support::SourceReadOptions(folder));
  if (status == platform::ReadStatus::kMissing) status = platform::ReadStatus::kOk;
  return status == platform::ReadStatus::kOk ? Parse(text) : AllowList{};
}

bool AllowList::Allows(std::string_view name) const {
  if (Empty()) return false;
  std::string lower = support::ToLowerAscii(name);
  while (!lower.empty() && lower.back() == '.') lower.pop_back();
  if (exact_.count(lower) != 0) return true;
  if (below_.empty()) return false;
  for (std::string_view rest = lower;;) {
    if (below_.count(std::string(rest)) != 0) return true;
    const auto dot = rest.find('.');
    if (dot == std::string_view::npos) return false;
    rest.remove_prefix(dot + 1);
  }
}

}  // namespace vellomar::exports
