#include "fetch/list_check.h"

#include <algorithm>

namespace vellomar::fetch {
namespace {

// The longest line looked at for an entry: a hosts line is far shorter; a longer one is skipped,
// so that the check holds a bounded piece of the body whatever arrives.
constexpr std::size_t kMaxLine = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsIpv4(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + (text[i++] - '0');
    }
    if (i == start || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

// Counts the groups of `part` (no "::" in it) into `groups`; false when one is malformed. Only
// the last group of the address may be a dotted IPv4 address (two groups' worth).
bool CountGroups(std::string_view part, bool may_end_in_ipv4, int& groups) {
  if (part.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = part.find(':', start);
    const std::string_view group = part.substr(
        start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (colon == std::string_view::npos && may_end_in_ipv4 &&
        group.find('.') != std::string_view::npos) {
      groups += 2;
      return IsIpv4(group);
    }
    if (group.empty() || group.size() > 4 || !std::all_of(group.begin(), group.end(), IsHex)) {
      return false;
    }
    ++groups;
    if (colon == std::string_view::npos) return true;
    start = colon + 1;
  }
}

bool IsIpv6(std::string_view text) {
  if (const auto zone = text.find('%'); zone != std::string_view::npos) {
    if (zone + 1 == text.size()) return false;
    text = text.substr(0, zone);
  }
  int groups = 0;
  const auto gap = text.find("::");
  if (gap == std::string_view::npos) return CountGroups(text, true, groups) && groups == 8;
  if (text.find("::", gap + 1) != std::string_view::npos) return false;
  return CountGroups(text.substr(0, gap), false, groups) &&
         CountGroups(text.substr(gap + 2), true, groups) && groups <= 7;
}

}  // namespace

bool IsIpAddress(std::string_view text) { return IsIpv4(text) || IsIpv6(text); }

bool IsHostsEntry(std::string_view line) {
  const auto word_end = [&](std::size_t from) {
    while (from < line.size() && !IsBlank(line[from])) ++from;
    return from;
  };
  const auto blanks_end = [&](std::size_t from) {
    while (from < line.size() && IsBlank(line[from])) ++from;
    return from;
  };
  const std::size_t address = blanks_end(0);
  const std::size_t address_end = word_end(address);
  const std::size_t name = blanks_end(address_end);
  return name > address_end && name < line.size() && line[name] != '#' &&
         IsIpAddress(line.substr(address, address_end - address));
}

void ListCheck::TakeLines(std::string_view piece) {
  while (!found_entry_ && !piece.empty()) {
    const std::size_t end = piece.find('\n');
    const std::string_view part = piece.substr(0, end);
    if (line_.size() + part.size() > kMaxLine) {
      line_too_long_ = true;
    } else if (!line_too_long_) {
      line_.append(part);
    }
    if (end == std::string_view::npos) return;
    found_entry_ = !line_too_long_ && IsHostsEntry(line_);
    line_.clear();
    line_too_long_ = false;
    piece.remove_prefix(end + 1);
  }
}

ListCheck::Verdict ListCheck::Feed(std::string_view piece) {
  if (verdict_ != Verdict::kPending) return verdict_;
  if (piece.find('\0') != std::string_view::npos) return verdict_ = Verdict::kNulBytes;
  if (!seen_text_) {
    const auto text = std::find_if_not(piece.begin(), piece.end(), IsBlank);
    if (text != piece.end()) {
      seen_text_ = true;
      if (*text == '<') return verdict_ = Verdict::kHtml;
    }
  }
  TakeLines(piece);
  return verdict_;
}

ListCheck::Verdict ListCheck::Finish() {
  if (verdict_ != Verdict::kPending) return verdict_;
  if (!found_entry_ && !line_too_long_) found_entry_ = IsHostsEntry(line_);
  return verdict_ = found_entry_ ? Verdict::kList : Verdict::kNoEntries;
}

}  // namespace vellomar::fetch
