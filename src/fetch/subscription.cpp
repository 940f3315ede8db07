#include "fetch/subscription.h"

#include <algorithm>

#include "catalogue/source_list.h"
#include "support/file_reader.h"
#include "support/line_end.h"
#include "support/text.h"

namespace vellomar::fetch {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kShortcutSection = "[internetshortcut]";

Subscription Not(NotSubscription why) {
  Subscription result;
  result.why = why;
  return result;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

Subscription WebAddress(std::string_view url) {
  if (!IsWebAddress(url)) return Not(NotSubscription::kNotWeb);
  Subscription result;
  result.url = std::string(url);
  return result;
}

// The URL= value of an Internet Shortcut's own section; other keys and sections are ignored.
Subscription ShortcutAddress(std::string_view bytes) {
  bool in_section = false;
  std::optional<std::string_view> url;
  support::ForEachLine(bytes, support::LineEnd::kLf, [&](std::string_view raw) {
    const std::string_view line = Trimmed(raw);
    if (!line.empty() && line.front() == '[') {
      in_section = support::ToLowerAscii(line) == kShortcutSection;
    } else if (const auto equals = line.find('=');
               in_section && equals != std::string_view::npos &&
               support::ToLowerAscii(Trimmed(line.substr(0, equals))) == "url") {
      url = Trimmed(line.substr(equals + 1));
    }
    return !url;
  });
  if (!url) return Not(NotSubscription::kNoShortcutUrl);
  return WebAddress(*url);
}

}  // namespace

bool IsWebAddress(std::string_view url) {
  const std::string lower = support::ToLowerAscii(url.substr(0, 8));
  const std::size_t scheme = lower.rfind("https://", 0) == 0  ? 8
                             : lower.rfind("http://", 0) == 0 ? 7
                                                              : 0;
  if (scheme == 0 || url.size() == scheme) return false;
  return std::all_of(url.begin(), url.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7F;
  });
}

Subscription ParseSubscription(std::string_view bytes) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.remove_prefix(kByteOrderMark.size());
  }
  std::optional<std::string_view> first;
  support::ForEachLine(bytes, support::LineEnd::kLf, [&](std::string_view line) {
    if (!Trimmed(line).empty()) first = Trimmed(line);
    return !first;
  });
  if (!first) return Not(NotSubscription::kEmpty);
  if (support::ToLowerAscii(*first) == kShortcutSection) return ShortcutAddress(bytes);
  return WebAddress(*first);
}

Subscription ReadSubscription(const std::string& folder, const std::string& name) {
  platform::ReadStatus status;
  platform::InputFile file = support::OpenForReading(platform::JoinPath(folder, name),
                                                     support::SourceReadOptions(folder), status);
  if (status == platform::ReadStatus::kOk && file.Facts().size > kMaxSubscriptionBytes) {
    return Not(NotSubscription::kTooLarge);
  }
  std::string bytes;
  if (status == platform::ReadStatus::kOk) status = file.ReadAll(bytes);
  if (status != platform::ReadStatus::kOk) {
    Subscription result = Not(NotSubscription::kUnreadable);
    result.read = status;
    return result;
  }
  return ParseSubscription(bytes);
}

std::string ListNameOf(const std::string& subscription) {
  return subscription.substr(0, subscription.size() - 4) + ".txt";
}

std::optional<std::string> SubscriptionNamed(const std::string& name) {
  if (catalogue::MatchesPattern(name, kSubscriptionPattern)) return name;
  if (catalogue::MatchesPattern(name, catalogue::kSourcePattern)) {
    return name.substr(0, name.size() - 4) + ".url";
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> ListSubscriptions(const std::string& folder) {
  auto listing = catalogue::ListSources(folder, kSubscriptionPattern);
  if (!listing) return std::nullopt;
  return std::move(listing->names);
}

}  // namespace vellomar::fetch
