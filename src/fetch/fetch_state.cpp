#include "fetch/fetch_state.h"

#include <algorithm>
#include <vector>

#include "catalogue/source_list.h"
#include "fetch/subscription.h"
#include "platform/platform.h"
#include "support/file_reader.h"
#include "support/line_end.h"

namespace vellomar::fetch {
namespace {

constexpr std::string_view kComment =
    "# Vellomar: the validators of each fetched list (name, address, ETag, Last-Modified)\n";

bool HoldsControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

FetchState ParseFetchState(std::string_view bytes) {
  FetchState state;
  bool damaged = false;
  support::ForEachLine(bytes, support::LineEnd::kLf, [&](std::string_view line) {
    if (line.empty() || line.front() == '#') return true;
    std::vector<std::string> fields(1);
    for (const char c : line) {
      if (c == '\t') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    damaged = fields.size() != 4 ||
              !catalogue::MatchesPattern(fields[0], catalogue::kSourcePattern) ||
              !IsWebAddress(fields[1]) ||
              std::any_of(fields.begin(), fields.end(),
                          [](const std::string& field) { return HoldsControl(field); }) ||
              !state.emplace(fields[0], Validators{fields[1], fields[2], fields[3]}).second;
    return !damaged;
  });
  if (damaged) state.clear();
  return state;
}

std::string FormatFetchState(const FetchState& state) {
  std::string bytes(kComment);
  for (const auto& [name, kept] : state) {
    if (HoldsControl(name) || HoldsControl(kept.url) || HoldsControl(kept.etag) ||
        HoldsControl(kept.last_modified)) {
      continue;
    }
    bytes += name + '\t' + kept.url + '\t' + kept.etag + '\t' + kept.last_modified + '\n';
  }
  return bytes;
}

FetchState LoadFetchState(const std::string& path) {
  platform::ReadStatus status;
  platform::InputFile file = support::OpenForReading(path, {}, status);
  std::string bytes;
  if (status != platform::ReadStatus::kOk || file.Facts().size > kMaxFetchStateBytes ||
      file.ReadAll(bytes) != platform::ReadStatus::kOk) {
    return {};
  }
  return ParseFetchState(bytes);
}

bool SaveFetchState(const std::string& path, const FetchState& state) {
  const auto file = platform::CreateReplacementFile(path);
  return file != nullptr && file->Write(FormatFetchState(state)) &&
         file->Commit() == platform::ReplacementFile::CommitResult::kReplaced;
}

}  // namespace vellomar::fetch
