#pragma once
// The whole-file reader.

#include <string>

namespace vellomar::support {

// The whole content of the file at `path`, byte for byte, or empty text when the file does
// not pass the existence test, cannot be opened, or changes length while it is read.
std::string ReadWholeFile(const std::string& path);

// As ReadWholeFile, into `buffer`, whose storage is reused: a caller that reads many files into
// one buffer pays for fresh memory only when a file is larger than every one before it. True
// when `buffer` holds the whole file (an empty file included); false, with `buffer` empty, in
// the cases where ReadWholeFile gives empty text.
bool ReadWholeFileInto(const std::string& path, std::string& buffer);

}  // namespace vellomar::support
