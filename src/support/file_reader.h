#pragma once
// The whole-file reader.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vellomar::support {

using platform::ReadStatus;

// The whole content of the file at `path`, byte for byte, or empty text when the file does
// not pass the existence test, cannot be opened, is not a regular file, is larger than
// platform::kMaxFileBytes, or changes length while it is read.
std::string ReadWholeFile(const std::string& path);

// As ReadWholeFile, into `buffer`, whose storage is reused: a caller that reads many files into
// one buffer pays for fresh memory only when a file is larger than every one before it. True
// when `buffer` holds the whole file (an empty file included); false, with `buffer` empty, in
// the cases where ReadWholeFile gives empty text.
bool ReadWholeFileInto(const std::string& path, std::string& buffer);

// How a file is to be read on behalf of someone.
struct ReadOptions {
  platform::Links links = platform::Links::kFollow;
  // When set, the file must also be readable by this user (with these groups) by its owner
  // and mode: a program running as root reads a user's source only when the user could have.
  std::optional<std::uint32_t> reader;
  std::vector<std::uint32_t> reader_groups;
};

// As ReadWholeFileInto, saying why a file could not be read. A hidden name reads as kMissing.
[[nodiscard]] ReadStatus ReadWholeFileChecked(const std::string& path, std::string& buffer,
                                              const ReadOptions& options = {});

// True when user `uid`, a member of `groups`, may read a file of these facts by its owner and
// mode bits (root may read anything).
[[nodiscard]] bool UserMayRead(const platform::FileFacts& file, std::uint32_t uid,
                               const std::vector<std::uint32_t>& groups);

// The options for reading the sources in `folder`: links refused; and when the program runs as
// root and the folder belongs to another user, reads limited to what that user could read.
ReadOptions SourceReadOptions(const std::string& folder);

// A short English text for a failed read, for the status line: "too large", "not a file"...
std::string_view DescribeReadStatus(ReadStatus status);

}  // namespace vellomar::support
