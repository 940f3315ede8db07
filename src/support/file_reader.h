#pragma once
// The whole-file reader.

#include <string>

namespace vellomar::support {

// The whole content of the file at `path`, byte for byte, or empty text when the file does
// not pass the existence test, cannot be opened, or changes length while it is read.
std::string ReadWholeFile(const std::string& path);

}  // namespace vellomar::support
