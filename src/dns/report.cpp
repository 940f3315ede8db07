#include "dns/report.h"

#include <iterator>
#include <optional>
#include <utility>

#include "dns/commands.h"
#include "support/text.h"

namespace vellomar::dns {
namespace {

// The labels of the listing that `ipconfig /displaydns` writes, in the order in which a line
// is classified: the first one found decides. Matched exactly, anywhere in the line.
constexpr std::string_view kLabels[] = {
    "Record Name . . . . . :", "Record Type . . . . . :", "Time To Live  . . . . :",
    "Data Length . . . . . :", "Section . . . . . . . :", "A (Host) Record . . . :",
    "PTR Record  . . . . . :", "AAAA Record . . . . . :",
};
constexpr std::size_t kRecordNameLabel = 0;
constexpr std::size_t kFirstValueLabel = 5;

// Response-code words that `resolvectl show-cache` prints in place of the data of a negative
// entry ("nothere.example IN A NXDOMAIN").
constexpr std::string_view kResponseCodes[] = {
    "NODATA",   "NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP",   "REFUSED",
    "YXDOMAIN", "YXRRSET", "NXRRSET", "NOTAUTH",  "NOTZONE",  "BADVERS",  "BADSIG",
    "BADKEY",   "BADTIME", "BADMODE", "BADNAME",  "BADALG",   "BADTRUNC", "BADCOOKIE",
};

std::optional<std::size_t> FirstLabel(std::string_view line) {
  for (std::size_t i = 0; i < std::size(kLabels); ++i) {
    if (support::Contains(line, kLabels[i])) return i;
  }
  return std::nullopt;
}

// Every label holds a colon, so a labelled line always has one.
std::string_view AfterFirstColon(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Takes the next blank-separated field off the front of `rest`; empty when none is left.
std::string_view NextField(std::string_view& rest) {
  std::size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) ++start;
  std::size_t end = start;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  const std::string_view field = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return field;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One record line of `resolvectl show-cache`: "<name> IN <TYPE> <data...>".
struct CacheRecord {
  std::string_view name;
  std::string_view type;
  std::string_view data;
};

std::optional<CacheRecord> ParseCacheRecord(std::string_view line) {
  std::string_view rest = line;
  CacheRecord record;
  record.name = NextField(rest);
  if (NextField(rest) != "IN") return std::nullopt;
  record.type = NextField(rest);
  if (record.type.empty()) return std::nullopt;
  record.data = TrimBlanks(rest);
  return record;
}

// Only address records carry a value into the report, as in the labelled listing; a
// negative entry names its response code where the address would be.
bool HasAddressValue(const CacheRecord& record) {
  if (record.type != "A" && record.type != "AAAA" && record.type != "PTR") return false;
  if (record.data.empty()) return false;
  for (std::string_view code : kResponseCodes) {
    if (record.data == code) return false;
  }
  return true;
}

// Collects report lines: a record's name column, then its values, each value followed by a
// tab; closing a line drops the last tab and ends the line.
class ReportWriter {
 public:
  explicit ReportWriter(support::LineEnd line_end) : line_end_(support::LineEndText(line_end)) {}

  void StartRecord(std::string_view name_text) {
    CloseLine();
    line_.assign(name_text.substr(0, kNameColumnWidth));
    line_.resize(kNameColumnWidth, ' ');
    line_ += '\t';
  }

  void AddValue(std::string_view value) {
    line_ += value;
    line_ += '\t';
  }

  std::string Finish() {
    CloseLine();
    return std::move(report_);
  }

 private:
  void CloseLine() {
    if (line_.empty()) return;
    if (line_.back() == '\t') line_.pop_back();
    report_ += line_;
    report_ += line_end_;
    line_.clear();
  }

  std::string_view line_end_;
  std::string line_;
  std::string report_;
};

void AddListingLine(std::string_view line, ReportWriter& writer) {
  if (const std::optional<std::size_t> label = FirstLabel(line)) {
    if (*label == kRecordNameLabel) {
      writer.StartRecord(AfterFirstColon(line));
    } else if (*label >= kFirstValueLabel) {
      writer.AddValue(AfterFirstColon(line));
    }
    return;
  }
  if (const std::optional<CacheRecord> record = ParseCacheRecord(line)) {
    // The blank in front of the name lines the column up with the labelled listing, where
    // the name keeps the blank that follows the label's colon.
    writer.StartRecord(" " + std::string(record->name));
    if (HasAddressValue(*record)) writer.AddValue(record->data);
  }
}

}  // namespace

std::string BuildReport(std::string_view capture_text, support::LineEnd line_end) {
  const std::string text = support::ReplaceAll(capture_text, kFinishedMarker, "");
  ReportWriter writer(line_end);
  std::string line;
  support::ForEachLine(text, line_end, [&](std::string_view raw_line) {
    // A CR or LF left inside a line is not part of its text.
    line.clear();
    for (char c : raw_line) {
      if (c != '\r' && c != '\n') line += c;
    }
    if (!line.empty()) AddListingLine(line, writer);
    return true;
  });
  return writer.Finish();
}

}  // namespace vellomar::dns
