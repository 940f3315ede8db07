#pragma once
// Reading a file whole for the install, telling an empty file from an unreadable one.

#include <optional>
#include <string>

namespace vellomar::install {

// The whole content of the file at `path`; nullopt when it does not pass the existence test
// or cannot be read whole. An existing empty file gives empty text: it has nothing to misread.
std::optional<std::string> ReadFileBytes(const std::string& path);

}  // namespace vellomar::install
