#include "support/file_reader.h"

#include <algorithm>

namespace vellomar::support {
namespace {

bool IsHiddenName(const std::string& path) {
  const auto slash = path.find_last_of(platform::PathSeparator() == '/' ? "/" : "\\/");
  const std::string_view base = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  return base.empty() || base.front() == '.';
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  ReadWholeFileInto(path, content);
  return content;
}

bool ReadWholeFileInto(const std::string& path, std::string& buffer) {
  return ReadWholeFileChecked(path, buffer) == ReadStatus::kOk;
}

ReadStatus ReadWholeFileChecked(const std::string& path, std::string& buffer,
                                const ReadOptions& options) {
  // The existence test leaves out hidden names; the kind of file is judged on the open file.
  if (path.empty() || IsHiddenName(path)) {
    buffer.clear();
    return ReadStatus::kMissing;
  }
  ReadStatus status;
  platform::InputFile file = platform::InputFile::Open(path, options.links, status);
  // Where files are hidden by a mark (Windows), the mark is judged on the open file.
  if (status == ReadStatus::kOk && file.Facts().hidden) status = ReadStatus::kMissing;
  if (status == ReadStatus::kOk && options.reader &&
      !UserMayRead(file.Facts(), *options.reader, options.reader_groups)) {
    status = ReadStatus::kNotPermitted;
  }
  if (status != ReadStatus::kOk) {
    buffer.clear();
    return status;
  }
  return file.ReadAll(buffer);
}

bool UserMayRead(const platform::FileFacts& file, std::uint32_t uid,
                 const std::vector<std::uint32_t>& groups) {
  if (uid == 0) return true;
  if (file.owner == uid) return (file.mode & 0400) != 0;
  if (std::find(groups.begin(), groups.end(), file.group) != groups.end()) {
    return (file.mode & 0040) != 0;
  }
  return (file.mode & 0004) != 0;
}

ReadOptions SourceReadOptions(const std::string& folder) {
  ReadOptions options;
  options.links = platform::Links::kRefuse;
  const auto facts = platform::FolderFacts(folder);
  const std::uint32_t me = platform::EffectiveUser();
  if (me == 0) {
    // A folder we cannot examine is read as nobody's: only what all may read.
    const std::uint32_t owner = facts ? facts->owner : 65534;
    if (owner != 0) {
      options.reader = owner;
      options.reader_groups = platform::GroupsOfUser(owner);
    }
  }
  return options;
}

std::string_view DescribeReadStatus(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk:
      return "read";
    case ReadStatus::kMissing:
      return "missing";
    case ReadStatus::kNotRegular:
      return "not a regular file";
    case ReadStatus::kTooLarge:
      return "too large";
    case ReadStatus::kUnreadable:
      return "unreadable";
    case ReadStatus::kChanged:
      return "changed while read";
    case ReadStatus::kNotPermitted:
      return "not readable by the folder's owner";
  }
  return "unreadable";
}

}  // namespace vellomar::support
